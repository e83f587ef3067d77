#pragma once

class QLineEdit;
class TDesktop;

// Makes `edit` a typed-number field: it holds at most ten characters and takes only hexadecimal
// digits. Any other character typed, Backspace, a space and the clipboard shortcuts included, is
// dropped with the desktop's beep; keys that type nothing (Delete, the arrows, Enter for the
// default button) work as usual. Text that arrives another way (a paste from the context menu, a
// drop) must be hexadecimal too, or it is refused.
void MakeCardNumberEdit(QLineEdit* edit, TDesktop& desktop);

// Makes `edit` a name or custom-text field: it holds CardTextLimit characters, counted as the
// operator sees them, so 50 emoji fit as well as 50 letters, and a cut never splits one.
void MakeCardTextEdit(QLineEdit* edit);
