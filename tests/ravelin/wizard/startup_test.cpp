// Start-up: the catalogue check with its four messages, the ports and the page set the command line
// chooses.
#include <QTest>

#include <filesystem>

#include "ravelin/wizard/wizard.h"
#include "wizard_test_support.h"
#include "wizard_tests.h"

using wiztest::WizardEnv;

namespace {

void replaceInFile(const std::string &path, const std::string &from, const std::string &to)
{
    std::string text = flashtest::readFile(path);
    std::string::size_type at = text.find(from);
    QVERIFY2(at != std::string::npos, from.c_str());
    text.replace(at, from.size(), to);
    flashtest::writeFile(path, text);
}

} // namespace

void StartupTest::catalogueFailureEndsWithItsMessage_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("versionLine");   // replaced by "Version=0"; empty: the file is removed
    QTest::addColumn<QString>("message");
    QTest::newRow("Models.ini missing") << "Models.ini" << ""
                                        << "Unable to find \"Models.ini\".\r\r\"Models.ini\" is required by Ravelin.";
    QTest::newRow("Models.ini outdated") << "Models.ini" << "Version=2"
                                         << "The version of \"Models.ini\" is invalid with this version of Ravelin.";
    QTest::newRow("Locks.ini missing") << "Locks.ini" << ""
                                       << "Unable to find \"Locks.ini\".\r\r\"Locks.ini\" is required by Ravelin.";
    QTest::newRow("Locks.ini outdated") << "Locks.ini" << "Version=1"
                                        << "The version of \"Locks.ini\" is invalid with this version of Ravelin.";
}

void StartupTest::catalogueFailureEndsWithItsMessage()
{
    QFETCH(QString, file);
    QFETCH(QString, versionLine);
    QFETCH(QString, message);
    WizardEnv env;
    std::string path = env.file(file.toStdString());
    if (versionLine.isEmpty()) {
        std::filesystem::remove(path);
    } else {
        replaceInFile(path, versionLine.toStdString(), "Version=0");
    }

    // Logging asked for: a catalogue failure ends before the log is opened.
    env.start({"-D"});
    QCOMPARE(env.startResult(), wiz_kCatalogueFailureExit);
    QCOMPARE(env.boxes.Texts(), std::vector<std::string>{message.toStdString()});
    QVERIFY(!flashtest::fileExists(env.file("log.txt")));
    QVERIFY(env.app().Run().devices.empty());
}

void StartupTest::commandLineChoosesPortsAndPageSet_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("firstPage");
    QTest::addColumn<int>("ports");
    QTest::addColumn<QString>("firstPort");
    QTest::addColumn<QString>("lastPort");
    QTest::addColumn<int>("speed");
    QTest::newRow("no parameters") << QStringList{} << "CDetectionPage" << 36 << "\\\\.\\COM1" << "\\\\.\\COM36" << 38400;
    QTest::newRow("page set once") << QStringList{"-V", "/R", "57600"} << "CDevelopersPage" << 36 << "\\\\.\\COM1"
                                   << "\\\\.\\COM36" << 57600;
    QTest::newRow("page set twice") << QStringList{"-v", "/V"} << "CDetectionPage" << 36 << "\\\\.\\COM1"
                                    << "\\\\.\\COM36" << 38400;
    QTest::newRow("one port") << QStringList{"/P", "COM3", "/F", "PADE105.HEX", "/M", "PL1400"} << "CProgressPage" << 1
                              << "\\\\.\\COM3" << "\\\\.\\COM3" << 38400;
    QTest::newRow("one port, any case") << QStringList{"-p", "com12"} << "CProgressPage" << 1 << "\\\\.\\COM12"
                                        << "\\\\.\\COM12" << 38400;
    QTest::newRow("developers before one port") << QStringList{"-P", "COM3", "-V"} << "CDevelopersPage" << 1
                                                << "\\\\.\\COM3" << "\\\\.\\COM3" << 38400;
}

void StartupTest::commandLineChoosesPortsAndPageSet()
{
    QFETCH(QStringList, args);
    QFETCH(QString, firstPage);
    QFETCH(int, ports);
    QFETCH(QString, firstPort);
    QFETCH(QString, lastPort);
    QFETCH(int, speed);
    WizardEnv env;
    std::vector<std::string> argv;
    for (const QString &arg : args) argv.push_back(arg.toStdString());
    CUpdateApp &app = env.start(argv);
    QCOMPARE(env.startResult(), -1);
    QVERIFY(env.boxes.Texts().empty());

    UpdateRun &run = app.Run();
    QCOMPARE(static_cast<int>(run.devices.size()), ports);
    QCOMPARE(QString(run.devices.front()->pUpdate->szPortPath), firstPort);
    QCOMPARE(QString(run.devices.back()->pUpdate->szPortPath), lastPort);
    QCOMPARE(run.devices.front()->pUpdate->nSpeed, speed);
    QCOMPARE(flsh_RunGetError(&run), 0);

    // The first page, without showing the sheet (showing it would start the page's work).
    std::unique_ptr<CWizard> sheet = app.CreateWizard();
    QCOMPARE(sheet->windowTitle(), QString("Ravelin"));
    QCOMPARE(sheet->page(sheet->startId())->objectName(), firstPage);
    sheet.reset();
    QCOMPARE(app.End(), 0);
}

void StartupTest::onePortThatCannotBeUsedIsNoSuccess()
{
    WizardEnv env;
    // A port text too long for the update record must not be cut into some other port's name.
    std::string longPort = "/dev/" + std::string(60, 'x');
    env.start({"-P", longPort, "-F", "A.HEX"});
    QCOMPARE(env.startResult(), flsh_kRunNoDeviceSelected);
    QCOMPARE(env.boxes.Texts(), std::vector<std::string>{"INTERNAL ERROR: No devices selected."});
    QVERIFY(env.app().Run().devices.empty());
}
