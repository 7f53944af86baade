#pragma once

#include <QStringView>

namespace wendrel::ui {

/// Whether the exclusion controls (txt_except, cm_except) are open for this text of
/// txt_source: only when its first "*" is followed by at least one more character, which a
/// folder item has as soon as its closing ";" is there.
bool exclusion_gate_open(QStringView source_text);

}  // namespace wendrel::ui
