#include "ui/field_validator.h"

#include <QFontMetrics>
#include <QLineEdit>

namespace kestrel {

namespace {
// QLineEdit keeps this many pixels free on each side of its text, plus one for the cursor.
constexpr int kLineEditSideMargin = 2;
constexpr int kCursorWidth = 1;
}  // namespace

FieldValidator::FieldValidator(QLineEdit* edit, bool upperCase, bool limitToWidth)
    : QValidator(edit), edit_(edit), upperCase_(upperCase), limitToWidth_(limitToWidth) {}

QValidator::State FieldValidator::validate(QString& input, int& pos) const {
    if (upperCase_) {
        input = input.toUpper();
        if (pos > input.size()) pos = static_cast<int>(input.size());
    }
    if (limitToWidth_ && !fitsWidth(input)) return Invalid;
    return Acceptable;
}

bool FieldValidator::fitsWidth(const QString& text) const {
    const QMargins margins = edit_->textMargins();
    const int room = edit_->contentsRect().width() - margins.left() - margins.right() -
                     2 * kLineEditSideMargin - kCursorWidth;
    return QFontMetrics(edit_->font()).horizontalAdvance(text) <= room;
}

}  // namespace kestrel
