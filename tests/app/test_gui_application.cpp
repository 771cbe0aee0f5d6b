// The staged client as a process: a termination signal is a close request,
// a second instance leaves at once, start-up errors are shown and end it.
#include "test_gui_support.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/stat.h>

namespace vexor {
namespace {

namespace fs = std::filesystem;

// A program folder with a copy of the staged executable, its own registry
// (XDG_CONFIG_HOME) and lock folder (XDG_RUNTIME_DIR).
class ClientFolder {
public:
    ClientFolder()
    {
        fs::create_directories(program() + "advs");
        fs::create_directories(program() + "modules");
        fs::copy(fs::path(VEXOR_SOURCE_DIR) / "data/stage/Languages", program() + "Languages",
                 fs::copy_options::recursive);
        fs::copy_file(fs::path(VEXOR_BINARY_DIR) / "stage/vexor", program() + "vexor");
        fs::create_directories(dir.path() + "config/vexor");
        fs::create_directories(dir.path() + "runtime");
        fs::permissions(dir.path() + "runtime", fs::perms::owner_all, fs::perm_options::replace);
        dir.write("program/settings.ini", "[Settings]\r\nAutoConnect=0\r\n");
    }

    std::string program() const { return dir.path() + "program/"; }
    std::string settings() const { return dir.read("program/settings.ini"); }
    void writeRegistry(const std::string& body) const { dir.write("config/vexor/registry.reg", "REGEDIT4\r\n\r\n" + body); }

    std::unique_ptr<QProcess> start(const QStringList& arguments = {}) const
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir.path() + "config"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir.path() + "runtime"));
        environment.insert(QStringLiteral("VEXOR_SERVER_HOST"), QString::fromStdString(refused.host()));
        environment.insert(QStringLiteral("VEXOR_OPEN_URL_LOG"), QString::fromStdString(dir.path() + "urls.log"));
        for (const auto& [name, value] : env)
            environment.insert(QString::fromLatin1(name), QString::fromStdString(value));
        process->setProcessEnvironment(environment);
        process->start(QString::fromStdString(program() + "vexor"), arguments);
        process->waitForStarted();
        return process;
    }

    // True while `pid` holds the lock "Vexor" (read from /proc/locks, so the
    // test never touches the lock itself).
    bool holdsLock(qint64 pid) const
    {
        struct stat info {};
        if (::stat((dir.path() + "runtime/Vexor.lock").c_str(), &info) != 0)
            return false;
        std::ifstream locks("/proc/locks");
        const std::string inode = ":" + std::to_string(info.st_ino) + " ";
        for (std::string line; std::getline(locks, line);) {
            std::istringstream fields(line);
            std::string id, kind, mode, access, owner;
            fields >> id >> kind >> mode >> access >> owner;
            if (kind == "FLOCK" && owner == std::to_string(pid) && line.find(inode) != std::string::npos)
                return true;
        }
        return false;
    }

    testkit::TempDir dir;
    testkit::QuietPort refused;
    std::map<const char*, std::string> env;  // set over the defaults above
};

// Waits until the process's error output holds `text`; returns all of it.
bool waitForError(QProcess& process, QString& errors, const QString& text)
{
    return QTest::qWaitFor([&] {
        errors += QString::fromLocal8Bit(process.readAllStandardError());
        return errors.contains(text) || process.state() == QProcess::NotRunning;
    }, 10000) && errors.contains(text);
}

TEST(ApplicationTest, TerminationSignalClosesTheWindowAndWritesTheSettings)
{
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        ClientFolder folder;
        auto client = folder.start();
        GUI_TRY_VERIFY_WITH_TIMEOUT(folder.holdsLock(client->processId()), 10000);
        ::kill(static_cast<pid_t>(client->processId()), signalNumber);
        ASSERT_TRUE(client->waitForFinished(15000)) << signalNumber;
        EXPECT_EQ(client->exitStatus(), QProcess::NormalExit) << signalNumber;
        EXPECT_EQ(client->exitCode(), 0) << signalNumber;
        const std::string ini = folder.settings();
        for (const char* key : {"Language=", "ProxyName=", "ProxyPort=", "ProxyUser=", "ProxyPass=", "Install=1",
                                "AutoConnect=0", "Banners=", "Logs=", "Rotation=10000", "BannerPocitadlo=",
                                "StartUps=1", "Left=", "Top="})
            EXPECT_NE(ini.find(key), std::string::npos) << key << " after signal " << signalNumber << ":\n" << ini;
    }
}

TEST(ApplicationTest, AnOpenModuleWindowDoesNotKeepTheClientRunning)
{
    // The sample Notes module, opened at start: its window answers a close
    // of its own with a close request to the client and stays open.
    ClientFolder folder;
    const std::string module = std::string(VEXOR_BINARY_DIR) + "/stage/modules/Notes/";
    ASSERT_TRUE(fs::exists(module + "Notes.mdl")) << module;
    folder.writeRegistry("[HKEY_CURRENT_USER\\Software\\Vexor\\Notes]\r\n\"ModulePath\"=\"" + module
                         + "\"\r\n\"ACTIVE\"=\"Y\"\r\n\"Default\"=\"Y\"\r\n");
    auto client = folder.start();
    GUI_TRY_VERIFY_WITH_TIMEOUT(folder.holdsLock(client->processId()), 10000);
    // The module opens while the main window is created, before the event
    // loop that handles the signal runs.
    ::kill(static_cast<pid_t>(client->processId()), SIGTERM);
    ASSERT_TRUE(client->waitForFinished(15000)) << "still running with the module window open";
    const std::string errors = client->readAllStandardError().toStdString();
    EXPECT_EQ(client->exitCode(), 0) << errors;
    EXPECT_NE(folder.settings().find("StartUps=1"), std::string::npos) << folder.settings();
    EXPECT_EQ(errors.find("module"), std::string::npos) << "the module loaded and unloaded without a word: " << errors;
}

TEST(ApplicationTest, SecondInstanceLeavesAtOnceWithoutAWord)
{
    ClientFolder folder;
    // The command line is ignored, Qt's own options too: a platform named
    // there would end the client at once.
    auto first = folder.start({QStringLiteral("-platform"), QStringLiteral("no-such-platform")});
    GUI_TRY_VERIFY_WITH_TIMEOUT(folder.holdsLock(first->processId()), 10000);
    auto second = folder.start();
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->readAllStandardError().isEmpty());
    // Another runtime folder (a login without one, then a desktop session):
    // the program folder's lock still says that a client runs.
    fs::create_directories(folder.dir.path() + "other-runtime");
    folder.env["XDG_RUNTIME_DIR"] = folder.dir.path() + "other-runtime";
    auto third = folder.start();
    ASSERT_TRUE(third->waitForFinished(10000));
    EXPECT_EQ(third->exitCode(), 0);
    EXPECT_TRUE(third->readAllStandardError().isEmpty());
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_TRUE(folder.holdsLock(first->processId()));
    ::kill(static_cast<pid_t>(first->processId()), SIGTERM);
    ASSERT_TRUE(first->waitForFinished(15000));
}

TEST(ApplicationTest, UnwritableSettingsShowTheErrorAndASecondSignalEndsTheProcess)
{
    ClientFolder folder;
    fs::remove(folder.program() + "settings.ini");
    fs::create_directories(folder.program() + "settings.ini/x");
    auto client = folder.start();
    GUI_TRY_VERIFY_WITH_TIMEOUT(folder.holdsLock(client->processId()), 10000);
    ::kill(static_cast<pid_t>(client->processId()), SIGTERM);
    QString errors;
    ASSERT_TRUE(waitForError(*client, errors, QStringLiteral("Unable to write to "))) << errors.toStdString();
    EXPECT_EQ(client->state(), QProcess::Running) << "the error box waits";
    ::kill(static_cast<pid_t>(client->processId()), SIGTERM);
    ASSERT_TRUE(client->waitForFinished(15000));
    EXPECT_EQ(client->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(client->exitCode(), 1);
}

TEST(ApplicationTest, StartUpErrorsAreShownAndEndTheProgram)
{
    const struct {
        const char* name;
        std::function<void(ClientFolder&)> damage;
        const char* message;
        int exitCode;  // after a signal dismissed the message
    } rows[] = {
        {"VexorID not a string", [](ClientFolder& f) {
             f.writeRegistry("[HKEY_CURRENT_USER\\Software\\Vexor]\r\n\"VexorID\"=dword:00000007\r\n");
         }, "Invalid data type for 'VexorID'", 1},
        {"index unreadable", [](ClientFolder& f) {
             fs::remove(f.program() + "Languages/lang.ini");
             fs::create_directories(f.program() + "Languages/lang.ini/x");
         }, "Languages INI file error!", 1},
        {"program folder a symlink", [](ClientFolder& f) {
             fs::create_directory_symlink(f.program(), f.dir.path() + "link");
             f.env["VEXOR_PROGRAM_FOLDER"] = f.dir.path() + "link";
         }, "VEXOR_PROGRAM_FOLDER is a symlink", 1},
        // Only a message: start-up goes on, and the signal then closes the window.
        {"index missing", [](ClientFolder& f) { fs::remove(f.program() + "Languages/lang.ini"); },
         "Languages INI file corrupted!", 0},
    };
    for (const auto& row : rows) {
        ClientFolder folder;
        row.damage(folder);
        auto client = folder.start();
        QString errors;
        ASSERT_TRUE(waitForError(*client, errors, QString::fromLatin1(row.message))) << row.name << errors.toStdString();
        EXPECT_EQ(client->state(), QProcess::Running) << row.name << ": the message box waits";
        ::kill(static_cast<pid_t>(client->processId()), SIGTERM);
        ASSERT_TRUE(client->waitForFinished(15000)) << row.name;
        EXPECT_EQ(client->exitCode(), row.exitCode) << row.name;
        EXPECT_EQ(folder.settings().find("StartUps=") != std::string::npos, row.exitCode == 0) << row.name;
    }
}

}  // namespace
}  // namespace vexor
