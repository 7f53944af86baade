#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <functional>
#include <utility>

class QListWidget;
class QPoint;

namespace wendrel::ui {

class PaintThrottle;

/// What the status log (ls_status) does beyond holding lines: it follows the job to its newest
/// line unless the user has scrolled up to read, shows failures and warnings in colour, and its
/// context menu copies the chosen lines or the whole log, saves the log to a file, or stops
/// the running job.
class StatusLog : public QObject {
  public:
    static const QColor kFailure;
    static const QColor kWarning;

    explicit StatusLog(QListWidget* list);

    void add(const QString& line, const QColor& colour = {});
    void clear();
    /// Colours the last `count` lines (a failure line and its reason, say).
    void mark_last(int count, const QColor& colour);
    /// Paints what is held back now.
    void flush();
    /// The menu's stop item is enabled while `running` says so, and calls `stop`.
    void set_stop(std::function<bool()> running, std::function<void()> stop);
    /// The menu's undo item is enabled while no job runs, and calls `undo`.
    void set_undo(std::function<void()> undo) { undo_ = std::move(undo); }
    /// The menu's preview item is enabled while no job runs, and calls `preview`.
    void set_preview(std::function<void()> preview) { preview_ = std::move(preview); }
    /// The log as text, one line each, in order; only the chosen lines with `selected_only`.
    QString text(bool selected_only) const;

  private:
    void show_menu(const QPoint& at);
    void save();

    QListWidget* list_;
    PaintThrottle* paint_;
    std::function<bool()> running_;
    std::function<void()> stop_;
    std::function<void()> undo_;
    std::function<void()> preview_;
    bool following_ = true;  // the view shows the newest line, until the user scrolls up
};

}  // namespace wendrel::ui
