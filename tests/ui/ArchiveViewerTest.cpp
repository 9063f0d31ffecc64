// The archive viewer driven offscreen over day files in the proxy's
// format: the list (newest first, searched, sorted), the message shown as
// text, and Restore, Learn and Delete with what each leaves on disk.
#include "ui/ArchiveViewer.h"

#include "learning/TokenStore.h"
#include "support/TestHelpers.h"

#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

std::string copy(const std::string& from, const std::string& subject, const std::string& rating,
                 const std::string& body, const std::string& type = "text/plain")
{
    return "From: " + from + "\r\nSubject: " + subject + "\r\nContent-Type: " + type +
           "; charset=utf-8\r\nX-Quillfence-Pro: Rule 'Test' detected spam from " + from + ", rating total " +
           rating + "\r\n\r\n" + body + ".\r\n";
}

class ArchiveViewerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_band = m_root.path() + "/archive/rating5";
        std::filesystem::create_directories(m_band);
        writeFile(m_band + "/SF261207.txt", copy("Old <old@example.com>", "SPAM - Older offer", "6.0", "old\r\n"));
        writeFile(m_band + "/SF261208.txt",
                  copy("Shop <shop@example.com>", "SPAM - Cheap pills", "9.5", "Buy\r\n..dotted\r\n") +
                      copy("=?utf-8?q?Ann_M=C3=BCller?= <ann@example.org>", "SPAM - Lunch", "7.0",
                           "<html><body><p>See you at <b>noon</b></p><img src=\"http://tracker.example/x.png\">"
                           "</body></html>\r\n",
                           "text/html"));
    }

    ArchiveViewer viewer()
    {
        std::vector<ArchiveLocation> locations;
        for (int band = 1; band <= 5; ++band)
            locations.push_back({band, "Rating Band " + std::to_string(band),
                                 m_root.path() + "/archive/rating" + std::to_string(band)});
        return ArchiveViewer(locations, m_root.path(), std::vector<std::string>(5, "SPAM - %%SUBJECT%%"));
    }

    TempDir m_root;
    std::string m_band;
};

QString cell(ArchiveViewer& viewer, int row, int column)
{
    return viewer.listView()->model()->index(row, column).data().toString();
}

TEST_F(ArchiveViewerTest, TheBandsMessagesAreListedNewestFirstSearchedSortedAndShownAsText)
{
    ArchiveViewer window = viewer();
    window.showBand(5);
    ASSERT_EQ(window.rowCount(), 3);
    EXPECT_EQ(cell(window, 0, ArchiveViewer::SubjectColumn), "SPAM - Lunch") << "the last copy of the newest day";
    EXPECT_EQ(cell(window, 0, ArchiveViewer::FromColumn), QString::fromUtf8("Ann Müller <ann@example.org>"));
    EXPECT_EQ(cell(window, 2, ArchiveViewer::SubjectColumn), "SPAM - Older offer");
    EXPECT_EQ(cell(window, 1, ArchiveViewer::RatingColumn), "9.5");
    EXPECT_TRUE(cell(window, 1, ArchiveViewer::DecisionColumn).startsWith("Rule 'Test' detected spam"));

    // The selected message as text: the filter's lines, the fields, the
    // HTML without its markup, nothing of its picture's address fetched.
    window.selectRow(0);
    const QString shown = window.messageView()->toPlainText();
    EXPECT_TRUE(shown.startsWith("Filter: Rule 'Test' detected spam")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("See you at noon")) << shown.toStdString();
    EXPECT_FALSE(shown.contains("<b>")) << shown.toStdString();

    window.listView()->sortByColumn(ArchiveViewer::RatingColumn, Qt::AscendingOrder);
    EXPECT_EQ(cell(window, 0, ArchiveViewer::RatingColumn), "6.0");
    EXPECT_EQ(cell(window, 2, ArchiveViewer::RatingColumn), "9.5");
    window.setSearch("SHOP@");
    ASSERT_EQ(window.rowCount(), 1);
    EXPECT_EQ(cell(window, 0, ArchiveViewer::SubjectColumn), "SPAM - Cheap pills");
    window.setSearch("older");
    ASSERT_EQ(window.rowCount(), 1);
    window.setSearch("nothing like it");
    EXPECT_EQ(window.rowCount(), 0);
    EXPECT_FALSE(window.restoreButton()->isEnabled());
    window.showBand(1);
    EXPECT_EQ(window.rowCount(), 0) << "a band without a folder yet is empty, not an error";
}

TEST_F(ArchiveViewerTest, RestoreDropsTheMessageAsItCameIntoPendingAndMarksIt)
{
    {
        ArchiveViewer window = viewer();
        window.showBand(5);
        window.setSearch("pills");
        ASSERT_EQ(window.rowCount(), 1);
        window.selectRow(0);
        window.restoreButton()->click();
        EXPECT_TRUE(window.statusText()->text().startsWith("Restored")) << window.statusText()->text().toStdString();
        EXPECT_TRUE(cell(window, 0, ArchiveViewer::SubjectColumn).startsWith("(restored) "));
    }
    std::vector<std::string> pending;
    for (const auto& file : std::filesystem::directory_iterator(m_root / "pending"))
        pending.push_back(file.path().string());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_TRUE(pending[0].ends_with(".msg"));
    EXPECT_EQ(readFile(pending[0]),
              "From: Shop <shop@example.com>\r\nSubject: Cheap pills\r\nContent-Type: text/plain; charset=utf-8\r\n"
              "\r\nBuy\r\n.dotted\r\n");
    // The mark stays for the next viewer.
    ArchiveViewer again = viewer();
    again.showBand(5);
    again.setSearch("pills");
    ASSERT_EQ(again.rowCount(), 1);
    EXPECT_TRUE(again.isRestored(*again.entryAt(0)));
    // The mark follows the copy, not its place: the copy before it deleted.
    again.setSearch("lunch");
    again.selectRow(0);
    EXPECT_FALSE(again.isRestored(*again.entryAt(0)));
    again.restoreButton()->click();
    again.setSearch("pills");
    again.selectRow(0);
    again.deleteSelected(false);
    again.setSearch("lunch");
    ASSERT_EQ(again.rowCount(), 1);
    EXPECT_TRUE(again.isRestored(*again.entryAt(0)));
    EXPECT_TRUE(cell(again, 0, ArchiveViewer::SubjectColumn).startsWith("(restored) "));
}

TEST_F(ArchiveViewerTest, LearningCountsAMessageOnceAndDeleteTakesOnlyItOut)
{
    ArchiveViewer window = viewer();
    window.showBand(5);
    window.setSearch("lunch");
    window.selectRow(0);
    window.learnWantedButton()->click();
    EXPECT_EQ(window.statusText()->text(), "Learned as wanted mail.");
    window.learnWantedButton()->click();
    EXPECT_EQ(window.statusText()->text(), "Learned as wanted mail already.");
    {
        TokenStore store(tokenStorePath(m_root.path()), false);
        EXPECT_EQ(store.messages(MailKind::Ham), 1);
        EXPECT_EQ(store.messages(MailKind::Spam), 0);
    }
    window.learnSpamButton()->click();
    EXPECT_EQ(window.statusText()->text(), "Learned as spam now, no longer as the other kind.");

    const std::string before = readFile(m_band + "/SF261208.txt");
    window.deleteSelected(false);
    EXPECT_EQ(window.statusText()->text(), "Deleted.");
    window.setSearch("");
    EXPECT_EQ(window.rowCount(), 2);
    const std::string after = readFile(m_band + "/SF261208.txt");
    EXPECT_EQ(after, before.substr(0, before.find("From: =?utf-8?")));
    EXPECT_EQ(after.find("Lunch"), std::string::npos);
}

TEST_F(ArchiveViewerTest, EmptyingOldDaysLeavesTheRecentOnes)
{
    const QDate today = QDate::currentDate();
    const std::string recent = m_band + "/SF" + today.toString("yyMMdd").toStdString() + ".txt";
    const std::string old = m_band + "/SF" + today.addDays(-40).toString("yyMMdd").toStdString() + ".txt";
    writeFile(recent, copy("New <new@example.com>", "SPAM - Today", "8.0", "new\r\n"));
    writeFile(old, copy("Gone <gone@example.com>", "SPAM - Long ago", "8.0", "gone\r\n"));
    ArchiveViewer window = viewer();
    window.showBand(5);
    EXPECT_EQ(window.rowCount(), 5);
    window.emptyOldDays(30, false);
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_TRUE(std::filesystem::exists(recent));
    // The band is shown again with what is left.
    ASSERT_GE(window.rowCount(), 1);
    EXPECT_EQ(cell(window, 0, ArchiveViewer::SubjectColumn), "SPAM - Today");
    for (int row = 0; row < window.rowCount(); ++row)
        EXPECT_NE(cell(window, row, ArchiveViewer::SubjectColumn), "SPAM - Long ago");
}

} // namespace
