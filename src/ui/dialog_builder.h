// Widgets from a dialog template: every control of the table, in its tab order, at its place
// in dialog units converted with the dialog font's base units.
#pragma once

#include <QFont>
#include <QHash>
#include <QSize>

#include "ui/dialog_template.h"
#include "ui/dialog_units.h"

class QWidget;

namespace kestrel {

// The template's font; where it is not installed, the system's sans-serif stands in.
QFont dialogFont(const DialogTemplate& layout);

// Base units from the font: the average width of the letters and the character height.
DialogBaseUnits measureDialogBaseUnits(const QFont& font);

struct BuiltDialog {
    DialogBaseUnits units;
    QSize clientSize;
    QHash<int, QWidget*> controls;  // by id; labels and group boxes are not listed
};

// Creates the controls of `layout` as children of `dialog` (in the dialog's font, which this
// sets) and gives `dialog` the template's fixed client size.
BuiltDialog buildDialog(QWidget* dialog, const DialogTemplate& layout);

}  // namespace kestrel
