#include "ui/dialog_builder.h"

#include <qdrawutil.h>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include "ui/field_validator.h"

namespace kestrel {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
// The group box title starts this far right of the frame's left edge, with a little room
// on each side where the frame line is interrupted.
constexpr int kTitleIndent = 8;
constexpr int kTitlePadding = 2;

// A group box as a template draws it: the frame runs through the middle of the title line,
// so the controls placed inside keep the template's distances from it in every style.
class TemplateGroupBox : public QWidget {
  public:
    TemplateGroupBox(const QString& title, QWidget* parent) : QWidget(parent), title_(title) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true);
        const QRect title(kTitleIndent, 0, metrics.horizontalAdvance(title_) + 2 * kTitlePadding,
                          metrics.height());
        painter.fillRect(title, palette().window());
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(title, Qt::AlignCenter, title_);
    }

  private:
    QString title_;
};

QComboBox* makeComboBox(const ControlTemplate& c, const PixelRect& r, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    // The field is plain text with a list: no completion, and neither Enter nor leaving
    // the field picks a list entry that matches the typed text (QComboBox would, ignoring
    // case, and report it as a choice); Enter belongs to the dialog's default button.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    QObject::disconnect(combo->lineEdit(), &QLineEdit::returnPressed, combo, nullptr);
    QObject::disconnect(combo->lineEdit(), &QLineEdit::editingFinished, combo, nullptr);
    combo->setValidator(
        new FieldValidator(combo->lineEdit(), c.style & kUpperCase, !(c.style & kAutoHScroll)));
    // The template's height includes the dropped list; the closed field takes its own.
    const int fieldHeight = combo->sizeHint().height();
    const int itemHeight = QFontMetrics(combo->font()).height() + 2;
    combo->setMaxVisibleItems(qMax(1, (r.height - fieldHeight) / itemHeight));
    if (!(c.style & kVScroll)) combo->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    combo->setGeometry(r.x, r.y, r.width, fieldHeight);
    return combo;
}

QWidget* makeControl(const ControlTemplate& c, const PixelRect& r, QWidget* parent) {
    const QString text = QString::fromLatin1(c.text);
    QWidget* w = nullptr;
    switch (c.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, parent);
            button->setDefault(c.style & kDefaultButton);
            button->setAutoDefault(true);
            w = button;
            break;
        }
        case ControlKind::GroupBox:
            w = new TemplateGroupBox(text, parent);
            break;
        case ControlKind::Label: {
            auto* label = new QLabel(text, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            w = label;
            break;
        }
        case ControlKind::ComboBox:
            return makeComboBox(c, r, parent);
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            w = bar;
            break;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(text, parent);
            edit->setReadOnly(c.style & kReadOnly);
            edit->setFrame(c.style & kBorder);
            if (c.style & kReadOnly) {  // a read-only field shows the dialog's own background
                QPalette palette = edit->palette();
                palette.setColor(QPalette::Base, palette.color(QPalette::Window));
                edit->setPalette(palette);
            }
            if ((c.style & kUpperCase) || !(c.style & kAutoHScroll))
                edit->setValidator(
                    new FieldValidator(edit, c.style & kUpperCase, !(c.style & kAutoHScroll)));
            w = edit;
            break;
        }
        case ControlKind::CheckBox:
            w = new QCheckBox(text, parent);
            break;
    }
    w->setGeometry(r.x, r.y, r.width, r.height);
    return w;
}

bool takesFocus(ControlKind kind) {
    return kind != ControlKind::GroupBox && kind != ControlKind::Label &&
           kind != ControlKind::ProgressBar;
}

}  // namespace

QFont dialogFont(const DialogTemplate& layout) {
    QFont font(QString::fromLatin1(layout.fontName));
    font.setPointSize(layout.fontPointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

DialogBaseUnits measureDialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    return {averageCharWidth(metrics.horizontalAdvance(QString::fromLatin1(kAlphabet))),
            metrics.height()};
}

BuiltDialog buildDialog(QWidget* dialog, const DialogTemplate& layout) {
    BuiltDialog built;
    dialog->setFont(dialogFont(layout));
    built.units = measureDialogBaseUnits(dialog->font());
    const PixelRect client = dialogUnitsToPixels(0, 0, layout.cx, layout.cy, built.units);
    built.clientSize = QSize(client.width, client.height);
    dialog->setFixedSize(built.clientSize);

    QWidget* previousStop = nullptr;
    for (size_t i = 0; i < layout.controlCount; ++i) {
        const ControlTemplate& c = layout.controls[i];
        const PixelRect r = dialogUnitsToPixels(c.x, c.y, c.cx, c.cy, built.units);
        QWidget* w = makeControl(c, r, dialog);
        if (c.style & kHidden) w->hide();
        if (!takesFocus(c.kind)) {
            w->setFocusPolicy(Qt::NoFocus);
        } else if (c.style & kTabStop) {
            w->setFocusPolicy(Qt::StrongFocus);
            if (previousStop) QWidget::setTabOrder(previousStop, w);
            previousStop = w;
        } else {
            w->setFocusPolicy(Qt::ClickFocus);
        }
        // Labels and group boxes have no id of their own; nothing refers to them.
        if (c.id != kStaticId) built.controls.insert(c.id, w);
    }
    return built;
}

}  // namespace kestrel
