#include "ui/exclusion_gate.h"

namespace wendrel::ui {

bool exclusion_gate_open(QStringView source_text) {
    // "*" is a single UTF-16 unit, and any unit after it belongs to some further character,
    // so counting units here gives the same answer as counting characters.
    const qsizetype star = source_text.indexOf(u'*');
    return star >= 0 && star + 1 < source_text.size();
}

}  // namespace wendrel::ui
