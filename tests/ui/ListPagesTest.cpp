// The "Patterns" and "Words" pages and the list editor: which files are
// listed, system lists refused, and what a save or a close leaves in the
// list file, the reload event and the window position.
#include "common/CVEvent.h"
#include "ui/CListsPage.h"
#include "ui/CWordsPage.h"
#include "ui/ListEditor.h"

#include "ModalDriver.h"
#include "SettingsTestSupport.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <vector>

namespace {

std::vector<std::string> shownLists(const CListFilesPage& page)
{
    std::vector<std::string> shown;
    for (int row = 0; row < page.lists()->topLevelItemCount(); ++row)
        shown.push_back(page.lists()->topLevelItem(row)->text(0).toStdString());
    return shown;
}

// Replaces the editor's text as typing would, so the change counts as one.
void edit(ListEditor& editor, const QString& text)
{
    QTextCursor cursor(editor.text()->document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(text);
}

std::vector<std::string> rulesFolderFiles()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(rulesFolder()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ListPagesTest : public SettingsPageTest
{
protected:
    void SetUp() override
    {
        SettingsPageTest::SetUp();
        for (const char* name : {"spam.lst", "Friends.lst", "charsets.sls", "money.wrd", "fraud.swd", "notes.txt",
                                 "old.lst.bak"})
            writeTextFile(rulesFolder() + "/" + name, std::string("contents of ") + name + "\n");
    }
};

TEST_F(ListPagesTest, EachPageListsItsKindWithSystemListsMarked)
{
    CListsPage patterns;
    patterns.ensureInitialised();
    EXPECT_EQ(patterns.lists()->headerItem()->text(0), "Pattern Lists");
    EXPECT_EQ(patterns.lists()->columnCount(), 1);
    EXPECT_EQ(shownLists(patterns), (std::vector<std::string>{"charsets (System)", "Friends", "spam"}));

    CWordsPage words;
    words.ensureInitialised();
    EXPECT_EQ(words.lists()->headerItem()->text(0), "Word Lists");
    EXPECT_EQ(shownLists(words), (std::vector<std::string>{"fraud (System)", "money"}));
}

TEST_F(ListPagesTest, ASystemListIsNotOpened)
{
    for (bool wordsPage : {false, true}) {
        SCOPED_TRACE(wordsPage ? "Words" : "Patterns");
        std::unique_ptr<CListFilesPage> page;
        if (wordsPage)
            page = std::make_unique<CWordsPage>();
        else
            page = std::make_unique<CListsPage>();
        page->ensureInitialised();
        bool editorOpened = false;
        auto seen = ModalDriver::onNextModal([&editorOpened](QWidget* modal) {
            editorOpened = qobject_cast<ListEditor*>(modal) != nullptr;
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                box->button(QMessageBox::Ok)->click();
            else
                static_cast<QDialog*>(modal)->reject();
        });
        page->openRow(0);   // the system list sorts first
        ASSERT_TRUE(seen->came);
        EXPECT_FALSE(editorOpened);
        EXPECT_EQ(seen->caption, "Spam Filter");
        EXPECT_EQ(seen->text, "You cannot edit this system list");
        EXPECT_EQ(seen->icon, QMessageBox::Warning);
    }
}

TEST_F(ListPagesTest, AUserListOpensInTheEditor)
{
    const struct {
        bool wordsPage;
        int row;
        const char* file;
    } rows[] = {{false, 2, "spam.lst"}, {true, 1, "money.wrd"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        std::unique_ptr<CListFilesPage> page;
        if (row.wordsPage)
            page = std::make_unique<CWordsPage>();
        else
            page = std::make_unique<CListsPage>();
        page->ensureInitialised();
        QString text;
        auto seen = ModalDriver::onNextModal([&text](QWidget* modal) {
            if (auto* editor = qobject_cast<ListEditor*>(modal))
                text = editor->text()->toPlainText();
            static_cast<QDialog*>(modal)->reject();
        });
        page->openRow(row.row);
        ASSERT_TRUE(seen->came);
        EXPECT_EQ(seen->caption.toStdString(), row.file);
        EXPECT_EQ(text.toStdString(), std::string("contents of ") + row.file + "\n");
    }
}

class ListEditorTest : public SettingsPageTest
{
protected:
    void SetUp() override
    {
        SettingsPageTest::SetUp();
        m_path = rulesFolder() + "/spam.lst";
        writeTextFile(m_path, "old line 1\nold line 2\n");
    }
    std::string m_path;
};

TEST_F(ListEditorTest, SaveReplacesTheWholeFileAndLeavesNoTemporaryFile)
{
    ListEditor editor("spam.lst");
    EXPECT_EQ(editor.windowTitle(), "spam.lst");
    EXPECT_EQ(editor.text()->toPlainText(), "old line 1\nold line 2\n");
    editor.text()->setPlainText("zeta\nAlpha\nbeta");
    EXPECT_TRUE(editor.save());
    EXPECT_EQ(readTextFile(m_path), "zeta\nAlpha\nbeta");
    EXPECT_EQ(rulesFolderFiles(), (std::vector<std::string>{"spam.lst"}));
    EXPECT_FALSE(editor.text()->document()->isModified());
}

TEST_F(ListEditorTest, AReaderOfTheOldListStillReadsItWhole)
{
    // The new list takes the old one's place; it is not written into it.
    const int reader = ::open(m_path.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    ListEditor editor("spam.lst");
    editor.text()->setPlainText("new\n");
    ASSERT_TRUE(editor.save());
    char buffer[64] = {};
    const ssize_t got = ::read(reader, buffer, sizeof buffer - 1);
    ::close(reader);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0))), "old line 1\nold line 2\n");
    EXPECT_EQ(readTextFile(m_path), "new\n");
}

TEST_F(ListEditorTest, SortingOrdersLinesIgnoringCase)
{
    struct Row {
        const char* name;
        const char* text;
        const char* sorted;
    };
    const Row rows[] = {
        {"mixed case", "pear\nApple\nbanana\napple", "Apple\napple\nbanana\npear"},
        {"final line feed ends the last line", "b\na\n", "a\nb"},
        {"bytes below lower case", "b\n_x\nA", "_x\nA\nb"},
        {"empty line sorts first", "b\n\na", "\na\nb"},
        {"one line", "only", "only"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ListEditor editor("spam.lst");
        editor.sortLines()->setChecked(true);
        editor.text()->setPlainText(row.text);
        ASSERT_TRUE(editor.save());
        EXPECT_EQ(readTextFile(m_path), row.sorted);
    }
}

TEST_F(ListEditorTest, CrLfLinesStayCrLf)
{
    writeTextFile(m_path, "one\r\ntwo\r\n");
    ListEditor editor("spam.lst");
    EXPECT_EQ(editor.text()->toPlainText(), "one\ntwo\n");
    editor.text()->appendPlainText("three");
    ASSERT_TRUE(editor.save());
    EXPECT_EQ(readTextFile(m_path), "one\r\ntwo\r\n\r\nthree");
}

TEST_F(ListEditorTest, SavingSetsTheReloadEventWhenItExists)
{
    {
        // No event: saving still works.
        ListEditor editor("spam.lst");
        editor.text()->setPlainText("a\n");
        EXPECT_TRUE(editor.save());
    }
    bool existed = true;
    auto reload = CVEvent::create(ListEditor::kReloadEventName, CVEvent::Reset::Manual, existed);
    ASSERT_TRUE(reload);
    EXPECT_FALSE(existed);
    EXPECT_FALSE(reload->test());
    ListEditor editor("spam.lst");
    editor.text()->setPlainText("b\n");
    EXPECT_TRUE(editor.save());
    EXPECT_TRUE(reload->test());
}

TEST_F(ListEditorTest, AListHeldByAnotherWriterIsNotWrittenButTheReloadIsSignalled)
{
    bool existed = true;
    auto reload = CVEvent::create(ListEditor::kReloadEventName, CVEvent::Reset::Manual, existed);
    ASSERT_TRUE(reload);
    ListEditor editor("spam.lst");
    edit(editor, "blocked\n");
    const int writer = ::open(m_path.c_str(), O_RDONLY);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    EXPECT_FALSE(editor.save(3, 10));
    ::close(writer);
    EXPECT_EQ(readTextFile(m_path), "old line 1\nold line 2\n");
    EXPECT_TRUE(editor.text()->document()->isModified());
    EXPECT_TRUE(reload->test());
    EXPECT_EQ(rulesFolderFiles(), (std::vector<std::string>{"spam.lst"}));
}

TEST_F(ListEditorTest, ClosingAChangedListAsksAndSavesOnYes)
{
    const struct {
        QMessageBox::StandardButton answer;
        const char* file;
    } rows[] = {{QMessageBox::No, "old line 1\nold line 2\n"}, {QMessageBox::Yes, "changed\n"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answer == QMessageBox::Yes ? "Yes" : "No");
        ListEditor editor("spam.lst");
        editor.show();
        edit(editor, "changed\n");
        auto seen = ModalDriver::pressOnNextBox(row.answer);
        editor.reject();
        ASSERT_TRUE(seen->came);
        EXPECT_EQ(seen->caption, "Quillfence Pro");
        EXPECT_EQ(seen->text, "Save changes?");
        EXPECT_EQ(seen->icon, QMessageBox::Question);
        EXPECT_FALSE(editor.isVisible());
        EXPECT_EQ(readTextFile(m_path), row.file);
    }
}

TEST_F(ListEditorTest, ClosingAnUnchangedListAsksNothing)
{
    ListEditor editor("spam.lst");
    editor.show();
    MessageBoxWatcher boxes;
    editor.reject();
    QApplication::processEvents();
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_EQ(readTextFile(m_path), "old line 1\nold line 2\n");
}

TEST_F(ListEditorTest, TheWindowRectangleIsKept)
{
    setSetting("ListEditorPos", "100 120 600 520");
    {
        ListEditor editor("spam.lst");
        EXPECT_EQ(editor.geometry(), QRect(100, 120, 500, 400));
        editor.setGeometry(40, 60, 300, 200);
        editor.reject();
    }
    std::string stored;
    EXPECT_TRUE(readSetting("ListEditorPos", stored));
    EXPECT_EQ(stored, "40 60 340 260");
    ListEditor again("spam.lst");
    EXPECT_EQ(again.geometry(), QRect(40, 60, 300, 200));
}

} // namespace
