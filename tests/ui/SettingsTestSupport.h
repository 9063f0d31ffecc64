// What the settings pages' tests share: a fixture that starts every test
// with empty settings hives ("quilfpro" and the viewer's "cvmsgvwr") and
// an empty rules folder, readers of the hive as stored on disk, and a
// watcher that closes and records every message box shown while it lives.
#pragma once

#include "common/CRegistry.h"
#include "common/DataRoots.h"
#include "common/ProgramContext.h"
#include "ui/SettingsKey.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// The text of a settings hive file of the user family.
inline std::string userHiveText(const char* hive = "quilfpro")
{
    char config[PATH_MAX];
    getAppDataRoot("config", config, sizeof config, false);
    std::ifstream in(std::string(config) + "/" + hive + "_usr.dat", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether the hive file holds the entry exactly, e.g. "\"/TIDY\" = 1".
inline bool hiveHasLine(const std::string& entry, const char* hive = "quilfpro")
{
    return userHiveText(hive).find("\r\n" + entry + "\r\n") != std::string::npos;
}

inline std::string rulesFolder()
{
    return programContext().dataRoot + "/rules";
}

inline void writeTextFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class SettingsPageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* hive : {"quilfpro", "cvmsgvwr"}) {
            CRegistry reg;
            ASSERT_TRUE(reg.CreateKey(programContext().settingsHive, hive, "/", true));
            reg.EmptyKey();
        }
        std::filesystem::remove_all(rulesFolder());
        std::filesystem::create_directories(rulesFolder());
    }

    template <typename T>
    static void setSetting(const char* name, T value, const char* key = "/")
    {
        CRegistry reg;
        ASSERT_TRUE(openSettingsKey(reg, key));
        ASSERT_TRUE(reg.SetValue(name, value));
    }

    // Whether the value exists, its content in out.
    template <typename T>
    static bool readSetting(const char* name, T& out, const char* key = "/")
    {
        CRegistry reg;
        return openSettingsKey(reg, key) && reg.QueryValue(name, out);
    }
};

// Closes every message box shown while it lives (Escape's answer) and
// counts them; a test that expects none checks count() after the action.
class MessageBoxWatcher : public QObject
{
public:
    MessageBoxWatcher() { qApp->installEventFilter(this); }
    ~MessageBoxWatcher() override { qApp->removeEventFilter(this); }

    int count() const { return m_count; }
    const QString& lastText() const { return m_lastText; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* box = qobject_cast<QMessageBox*>(watched)) {
                ++m_count;
                m_lastText = box->text();
                QTimer::singleShot(0, box, &QMessageBox::reject);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    int m_count = 0;
    QString m_lastText;
};
