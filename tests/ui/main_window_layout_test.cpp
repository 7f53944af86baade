// The window as it opens, its tab order, the exclusion gate and the focus border of the fields.
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "ui/main_window.h"
#include "window_probe.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QString caption_of(const QWidget* widget) {
    if (const auto* box = qobject_cast<const QGroupBox*>(widget)) {
        return box->title();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    const auto* field = qobject_cast<const QLineEdit*>(widget);
    return field ? field->text() : QString();
}

QString focus_name() {
    const QWidget* focus = QApplication::focusWidget();
    return focus ? focus->objectName() : u"(none)"_s;
}

}  // namespace

class MainWindowLayoutTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup() { window_.reset(); }
    void controls_data();
    void controls();
    void window_and_initial_state();
    void tab_cycle_data();
    void tab_cycle();
    void exclusion_gate_data();
    void exclusion_gate();
    void focus_border_moves();

  private:
    QStringList framed_fields() const;
    std::unique_ptr<wendrel::ui::MainWindow> window_;
};

void MainWindowLayoutTest::init() {
    window_ = std::make_unique<wendrel::ui::MainWindow>([] { return std::string("12:00:00"); });
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

QStringList MainWindowLayoutTest::framed_fields() const {
    QStringList framed;
    for (const char* name : {"txt_source", "txt_except", "txt_change"}) {
        if (control<QLineEdit>(*window_, name)->hasFrame()) {
            framed << QString::fromLatin1(name);
        }
    }
    return framed;
}

void MainWindowLayoutTest::controls_data() {
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("enabled");

    auto row = [](const char* name, const char* kind, const char* container, QRect twips,
                  const QString& caption = {}, const QString& hint = {}, bool enabled = true) {
        QTest::newRow(name) << QByteArray(kind) << QString::fromLatin1(container) << twips
                            << caption << hint << enabled;
    };
    row("progressbar", "QProgressBar", "fm_wendrel", {0, 3600, 5475, 315});
    row("ls_status", "QListWidget", "fm_wendrel", {0, 2460, 5475, 1140});
    row("fm_change", "QGroupBox", "fm_wendrel", {0, 0, 3855, 2415}, u"替换内容"_s);
    row("cm_change", "QPushButton", "fm_change", {3540, 1680, 270, 270}, {}, u"选择文件"_s);
    row("txt_change", "QLineEdit", "fm_change", {300, 1680, 3255, 270});
    row("cm_start", "QPushButton", "fm_change", {2700, 1980, 1095, 375}, u"开始！"_s);
    row("cm_except", "QPushButton", "fm_change", {3540, 1080, 270, 270}, u"＋"_s, u"选择添加文件"_s,
        false);
    row("txt_except", "QLineEdit", "fm_change", {300, 1080, 3255, 270}, {}, {}, false);
    row("cm_choosefile", "QPushButton", "fm_change", {3540, 480, 270, 270}, {}, u"选择文件"_s);
    row("cm_choosedir", "QPushButton", "fm_change", {3300, 480, 270, 270}, {},
        u"选择目录（目录下文件）"_s);
    row("txt_source", "QLineEdit", "fm_change", {300, 480, 3015, 270});
    row("img_about", "QLabel", "fm_change", {60, 1980, 375, 375});
    row("Label3", "QLabel", "fm_change", {120, 1440, 1695, 195}, u"替换内容来源"_s);
    row("Label2", "QLabel", "fm_change", {120, 840, 1695, 195}, u"除去文件"_s);
    row("Label1", "QLabel", "fm_change", {120, 240, 1695, 195}, u"替换文件来源"_s);
    row("fm_set", "QGroupBox", "fm_wendrel", {3900, 0, 1575, 975}, u"选项"_s);
    row("chk_qzpp", "QCheckBox", "fm_set", {60, 600, 1455, 255}, u"全字匹配"_s);
    row("chk_dxx", "QCheckBox", "fm_set", {60, 240, 1455, 255}, u"区分大小写"_s);
    row("fm_fileinfo", "QGroupBox", "fm_wendrel", {3900, 1020, 1575, 1395}, u"文件信息"_s);
    row("ls_fileinfo", "QListWidget", "fm_fileinfo", {60, 180, 1455, 1140});
}

void MainWindowLayoutTest::controls() {
    QFETCH(QByteArray, kind);
    QFETCH(QString, container);
    QFETCH(QRect, twips);
    QFETCH(QString, caption);
    QFETCH(QString, hint);
    QFETCH(bool, enabled);

    const auto* widget = control(*window_, QTest::currentDataTag());
    QVERIFY(widget);
    QVERIFY2(widget->inherits(kind), widget->metaObject()->className());
    QCOMPARE(widget->parentWidget()->objectName(), container);
    // 15 twips are one pixel at 96 dpi.
    QCOMPARE(widget->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    QCOMPARE(caption_of(widget), caption);
    QCOMPARE(widget->toolTip(), hint);
    QCOMPARE(widget->isEnabled(), enabled);
    QVERIFY(widget->isVisible());
    if (kind != "QPushButton" || !caption.isEmpty()) {
        return;
    }
    // The caption-less buttons show a picture: two share the open folder, one differs.
    const auto icon = [&](const char* name) {
        return control<QPushButton>(*window_, name)->icon().pixmap(16, 16).toImage();
    };
    QVERIFY(!icon(QTest::currentDataTag()).isNull());
    QCOMPARE(icon("cm_choosefile") == icon(QTest::currentDataTag()),
             QTest::currentDataTag() != QByteArray("cm_choosedir"));
}

void MainWindowLayoutTest::window_and_initial_state() {
    QCOMPARE(window_->objectName(), u"fm_wendrel"_s);
    QCOMPARE(window_->windowTitle(), u"文件替换"_s);
    QCOMPARE(window_->size(), QSize(365, 261));
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    const Qt::WindowFlags flags = window_->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);  // a tool window stays off the task bar
    const QPoint off_centre =
        window_->geometry().center() - window_->screen()->availableGeometry().center();
    QVERIFY(off_centre.manhattanLength() <= 2);  // odd sizes cannot be split evenly
    const QImage app_icon = window_->windowIcon().pixmap(32, 32).toImage();
    QVERIFY(window_->windowIcon().availableSizes().contains(QSize(16, 16)));
    QCOMPARE(control<QLabel>(*window_, "img_about")->pixmap().toImage(), app_icon);
    QVERIFY(control<QLabel>(*window_, "img_about")->hasScaledContents());
    QVERIFY(!control(*window_, "file") && !control(*window_, "fl_file"));

    QVERIFY(control<QCheckBox>(*window_, "chk_dxx")->isChecked());
    QVERIFY(!control<QCheckBox>(*window_, "chk_qzpp")->isChecked());
    QVERIFY(items(*window_, "ls_status").isEmpty() && items(*window_, "ls_fileinfo").isEmpty());
    const auto* bar = control<QProgressBar>(*window_, "progressbar");
    QCOMPARE(QList<int>({bar->minimum(), bar->value(), bar->maximum()}), QList<int>({0, 0, 100}));
    for (const char* name : {"timer1", "timer2"}) {
        const auto* timer = window_->findChild<QTimer*>(QString::fromLatin1(name));
        QVERIFY2(timer && !timer->isActive() && timer->interval() == 0, name);
    }

    const QFont plus = control(*window_, "cm_except")->font();
    QCOMPARE(plus.pointSizeF(), 14.25);
    QVERIFY(plus.bold());
    QVERIFY(QFontMetrics(plus).inFont(QChar(0xFF0B)));  // a face that has the full-width "＋"
    for (const QWidget* widget : window_->findChildren<QWidget*>(QRegularExpression(u"^.+$"_s))) {
        if (widget->objectName() != u"cm_except"_s) {
            QVERIFY2(widget->font() == window_->font(), qPrintable(widget->objectName()));
        }
    }

    QCOMPARE(focus_name(), u"txt_source"_s);
    QCOMPARE(framed_fields(), QStringList{u"txt_source"_s});
}

void MainWindowLayoutTest::tab_cycle_data() {
    QTest::addColumn<QString>("source_text");
    QTest::addColumn<bool>("backwards");
    QTest::addColumn<QStringList>("cycle");

    const QStringList closed = {
        u"cm_choosedir"_s, u"cm_choosefile"_s, u"txt_change"_s,  u"cm_change"_s, u"chk_dxx"_s,
        u"chk_qzpp"_s,     u"cm_start"_s,      u"ls_fileinfo"_s, u"ls_status"_s, u"txt_source"_s};
    QStringList open = closed;
    open.insert(2, u"cm_except"_s);
    open.insert(2, u"txt_except"_s);
    QStringList back = closed;
    std::reverse(back.begin(), back.end() - 1);

    QTest::newRow("exclusion closed") << QString() << false << closed;
    QTest::newRow("exclusion open") << u"/srv/docs*;"_s << false << open;
    QTest::newRow("backwards") << QString() << true << back;
}

void MainWindowLayoutTest::tab_cycle() {
    QFETCH(QString, source_text);
    QFETCH(bool, backwards);
    QFETCH(QStringList, cycle);

    control<QLineEdit>(*window_, "txt_source")->setText(source_text);
    QStringList visited;
    for (qsizetype i = 0; i < cycle.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                        backwards ? Qt::ShiftModifier : Qt::NoModifier);
        visited << focus_name();
    }
    QCOMPARE(visited, cycle);
}

void MainWindowLayoutTest::exclusion_gate_data() {
    QTest::addColumn<QString>("source_text");
    QTest::addColumn<bool>("open");

    QTest::newRow("empty") << QString() << false;
    QTest::newRow("file items only") << u"/srv/a.txt;/srv/b.txt;"_s << false;
    QTest::newRow("folder item after a file") << u"/srv/a.txt;/srv/docs*;"_s << true;
    QTest::newRow("folder item before a file") << u"/srv/docs*;/srv/a.txt;"_s << true;
    QTest::newRow("folder without its ;") << u"/srv/docs*"_s << false;
    QTest::newRow("lone star") << u"*"_s << false;
    QTest::newRow("two stars") << u"**"_s << true;
    QTest::newRow("only the first star counts") << u"/a*b*"_s << true;
    QTest::newRow("Chinese folder without its ;") << u"/srv/文档*"_s << false;
    QTest::newRow("star, one Chinese character") << u"*文"_s << true;
    QTest::newRow("star, one character beyond the BMP") << u"*😀"_s << true;
}

void MainWindowLayoutTest::exclusion_gate() {
    QFETCH(QString, source_text);
    QFETCH(bool, open);

    // Start from the opposite state, so that a gate that does not run fails every row.
    auto* source = control<QLineEdit>(*window_, "txt_source");
    auto* except = control<QLineEdit>(*window_, "txt_except");
    source->setText(open ? u"closed"_s : u"**"_s);
    except->setText(u"/srv/docs/old.txt;"_s);
    source->setText(source_text);
    QCOMPARE(except->isEnabled(), open);
    QCOMPARE(control(*window_, "cm_except")->isEnabled(), open);
    QCOMPARE(except->text(), u"/srv/docs/old.txt;"_s);  // closing the gate keeps the text

    // Typing the closing ";" of a folder item opens the gate, deleting it closes it again.
    source->setText(u"/srv/docs*"_s);
    QTest::keyClick(source, Qt::Key_Semicolon);
    QVERIFY(except->isEnabled());
    QTest::keyClick(source, Qt::Key_Backspace);
    QVERIFY(!except->isEnabled());
}

void MainWindowLayoutTest::focus_border_moves() {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(focus_name(), u"cm_choosedir"_s);
    QCOMPARE(framed_fields(), QStringList());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(framed_fields(), QStringList{u"txt_change"_s});
    QTest::mouseClick(control(*window_, "txt_source"), Qt::LeftButton);
    QCOMPARE(framed_fields(), QStringList{u"txt_source"_s});

    // Another window taking the activation leaves the focus, and so the frame, in place.
    QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(control(*window_, "txt_source"), &deactivated);
    QCOMPARE(framed_fields(), QStringList{u"txt_source"_s});

    control<QLineEdit>(*window_, "txt_source")->setText(u"/srv/docs*;"_s);
    QTest::mouseClick(control(*window_, "txt_except"), Qt::LeftButton);
    QCOMPARE(framed_fields(), QStringList{u"txt_except"_s});
    QTest::mouseClick(control(*window_, "chk_qzpp"), Qt::LeftButton);
    QCOMPARE(framed_fields(), QStringList());
}

QTEST_MAIN(MainWindowLayoutTest)
#include "main_window_layout_test.moc"
