// RuleEditor: the dialog "Rule Code" that shows and edits one rule's
// script and rating, and tests the script on a saved message.
//
// The title is the rule's name, with " (Read Only)" for a rule of the
// system file, whose text and rating cannot be changed and whose OK button
// reads "Close".  The body is read from the rule's file in the data root's
// rules folder.  The window takes its rectangle from EditorPos ("%d %d %d
// %d": left, top, right, bottom, key "/" of the settings hive) when that
// holds four numbers, and stores it there when closed either way.  OK on a
// user rule also writes the body back to "user.sfr" (UserRuleFile), once it
// compiles or the user, asked, saves it anyway (No keeps the editor open
// with the error selected); the
// caller reads the rating and enabled state back with rating() and
// isEnabled().  Nothing else is written, for a system rule not even the
// body.
//
// Test parses the include file "spamfltr.inc" of the rules folder followed
// by the editor's text, then asks for a message file (the dialog starts in
// the folder of the last one, TestMessageFolder, else the home folder) and
// runs the script
// over it as the filter would (runSingleScript), with the editor's rating.
// A parse or run error is shown in a message box (caption "Script Test")
// and its span selected in the editor; otherwise "Script parsed and ran
// OK." and what the rule did: passed the message, found spam (with the
// rating it adds and the band that puts the message in), or nothing; and
// the decision lines it wrote.
#pragma once

#include <QDialog>
#include <QString>

#include <string>

class QCheckBox;
class QDialogButtonBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class RuleHighlighter;

class RuleEditor : public QDialog
{
    Q_OBJECT
public:
    // rating: the text the rules list shows ("%.1f").
    RuleEditor(const QString& name, const QString& rating, bool userRule, bool enabled,
               QWidget* parent = nullptr);

    QString ruleName() const { return m_name; }
    bool isUserRule() const { return m_userRule; }
    // The rating as "%.1f" of the rating field's number.
    QString rating() const;
    bool isEnabled() const;
    // False when the rule was not found in its file (the editor is then
    // empty and OK writes no body).
    bool bodyLoaded() const { return m_bodyLoaded; }

    QPlainTextEdit* editor() const { return m_text; }
    QLineEdit* ratingField() const { return m_rating; }
    QCheckBox* enabledBox() const { return m_enabled; }
    QPushButton* testButton() const { return m_test; }
    QPushButton* okButton() const;

    // The test takes its message from path instead of asking with a file
    // dialog; an empty path asks again.
    void setTestMessageFile(const QString& path) { m_testMessage = path; }

public slots:
    void accept() override;
    void reject() override;
    // The Test button.
    void runTest();

private:
    // The editor's text behind the include file "spamfltr.inc", as the
    // filter compiles it, and the bytes and lines the include takes of it.
    struct Script {
        std::string text;
        int prefixBytes = 0;
        int prefixLines = 0;
    };
    Script script() const;
    // Selects the error span the engine gave (a line, byte offsets of
    // script) in the editor; show also puts the message in a box.
    void selectScriptError(const Script& script, int line, int start, int end);
    void showScriptError(const Script& script, const char* message, int line, int start, int end);
    // Whether OK may save the text: it compiles behind the include file, or
    // the user, shown the error (selected), saves it anyway.
    bool mayBeSaved();

    QString m_name;
    bool m_userRule;
    bool m_bodyLoaded = false;
    QString m_testMessage;
    QPlainTextEdit* m_text;
    QLineEdit* m_rating;
    QCheckBox* m_enabled;
    QPushButton* m_test;
    QDialogButtonBox* m_buttons;
    RuleHighlighter* m_highlighter;
};

// The number of tenths a rating text stands for, as the settings store it:
// its leading decimal number × 10 + 0.1, cut to an integer (0 for text that
// is not a number, or a negative one).
unsigned ratingTenths(const QString& text);
