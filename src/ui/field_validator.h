// The typing rules of an edit field: upper case, and text that may not grow past the
// visible width when the field does not scroll horizontally.
#pragma once

#include <QValidator>

class QLineEdit;

namespace kestrel {

class FieldValidator : public QValidator {
  public:
    FieldValidator(QLineEdit* edit, bool upperCase, bool limitToWidth);
    State validate(QString& input, int& pos) const override;

  private:
    bool fitsWidth(const QString& text) const;

    QLineEdit* edit_;
    bool upperCase_;
    bool limitToWidth_;
};

}  // namespace kestrel
