#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;

// The about box: the version information that the program's executable carries.
class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    // `programFile` is the executable whose version block is shown; empty: the running program.
    explicit TfrmAbout(QWidget* parent = nullptr, const QString& programFile = QString());

private:
    QFrame* Panel1;
    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* Comments;
    QPushButton* OKButton;

    void BuildPanel();
    void BuildProgramIcon();
    QVBoxLayout* BuildVersionTexts();
    void FormCreate(const QString& programFile);
};
