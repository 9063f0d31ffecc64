// ListEditor: edits one user list file of the rules folder (a pattern list
// ".lst" or a word list ".wrd") as plain text.
//
// The text shown is the file's, up to kMaxText characters.  Save replaces
// the file whole or not at all: the new text goes to a temporary file in
// the rules folder that is flushed and renamed over the list, while an
// exclusive lock on the list (flock, the lock the filter's readers share)
// keeps other writers out.  After a save, whether or not the file could be
// written, the named reload event is set when some process has created it.
// Closing stores the window rectangle as ListEditorPos ("left top right
// bottom") and, when the text was changed, asks "Save changes?".
//
// Line ends: a file read with CR LF lines is written back with CR LF.  Text
// that is not valid UTF-8 is shown and written back as Latin-1.
#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;

class ListEditor : public QDialog
{
    Q_OBJECT
public:
    // The most characters of a list the editor shows.
    static constexpr qsizetype kMaxText = 100000000;
    // The event the filter's host may create to hear that a list changed.
    static const char* const kReloadEventName;

    // fileName: the list's file name inside the rules folder.
    explicit ListEditor(const QString& fileName, QWidget* parent = nullptr);

    QString path() const { return m_path; }
    QPlainTextEdit* text() const { return m_text; }
    QCheckBox* sortLines() const { return m_sort; }
    QPushButton* saveButton() const { return m_save; }

    // Writes the text (sorted when "Sort lines" is ticked) with up to
    // attempts tries pauseMs apart at taking the lock, then signals the
    // reload.  True when the file now holds the text.
    bool save(int attempts = 100, int pauseMs = 50);

    // The lines of text (split at LF) in case-insensitive byte order, each
    // followed by LF except the last.  The empty piece after a final LF is
    // no line.
    static std::string sortedLines(const std::string& text);
    // Replaces path whole with content while holding the list's writer lock.
    static bool writeListFile(const std::string& path, const std::string& content, int attempts, int pauseMs);

public slots:
    void done(int result) override;

private:
    void load();
    std::string contentToWrite() const;

    QString m_path;
    QPlainTextEdit* m_text;
    QCheckBox* m_sort;
    QPushButton* m_save;
    bool m_crlf = false;
    bool m_latin1 = false;
};
