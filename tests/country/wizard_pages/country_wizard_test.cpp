// The country wizard driven as a user drives it: Next, Back, Cancel and Finish through its buttons,
// against simulated modems, with the message boxes recorded.
#include "country/config/ModemJob.h"
#include "country/wizard/ConfigingPage.h"
#include "country/wizard/ErrorPage.h"
#include "country/wizard/SuccessPage.h"
#include "country/wizard/ToConfigPage.h"
#include "country/wizard/WelcomePage.h"
#include "country/wizard/CountryPage.h"
#include "country/wizard/IDing.h"
#include "country/wizard/country_app.h"
#include "country/wizard/dialog_units.h"
#include "country/wizard/process_services.h"
#include "country/wizard/wizard_texts.h"
#include "wizard_rig.h"

#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>

namespace {

// The workers' dialogues and the pages' ticks run four times faster than on a real line (one tick is
// 250 ms); the clock reads the scale once, so it is set before anything runs.
const bool kTimeScaleSet = [] {
    setenv("SUITE_TIME_SCALE", "0.25", 0);
    return true;
}();

// Generous bounds for a loaded machine; the pages' own limits are counted in ticks, not here.
const int kSearchWaitMs = 60000;
const int kConfigureWaitMs = 60000;

QStringList Texts(std::initializer_list<const char*> texts)
{
    QStringList list;
    for (const char* text : texts)
        list << QString::fromUtf8(text);
    return list;
}

void Press(CCfgSheet& sheet, QWizard::WizardButton which)
{
    QAbstractButton* button = sheet.button(which);
    QVERIFY2(button->isVisible() && button->isEnabled(), "the button can be pressed");
    button->click();
}

}  // namespace

class CountryWizardTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void textsAreShownAsTheyAreMeant_data();
    void textsAreShownAsTheyAreMeant();
    void welcomePageShowsItsLinesAndOnlyNext();
    void noModemEndsTheSearchWithText218AndOnlyFinish();
    void twoModemsAreListedInPortOrderAndTheFirstIsConfigured();
    void backFromTheCountryPageDoesNotSearchAgain();
    void aConfigurationSlowerThanTheLimitShowsTheErrorPage();
    void backFromTheErrorPageAndASecondAttemptSucceed();
    void cancelDuringTheSearchStopsEveryWorkerAndReleasesEveryPort();
    void cancelOnTheCountryPageReleasesEveryPort();
    void pagesGrowWithALargerFontAndCutNothing();
    void startUpNamesAMissingCatalogueInAMessageBox();
    void startUpShowsTheWizardWithoutParameters();
};

void CountryWizardTest::textsAreShownAsTheyAreMeant_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("expected");
    QTest::newRow("CR LF and a trailing LF") << ForDisplay(QStringLiteral("one\r\ntwo\n")) << QStringLiteral("one\ntwo");
    QTest::newRow("lone CRs") << ForDisplay(QStringLiteral("note.\r\rMore")) << QStringLiteral("note.\n\nMore");
    QTest::newRow("country into the text")
        << WizardTextFor(WizardText::kParametersFor, QStringLiteral("Japan (JP)")) << QStringLiteral("parameters for Japan (JP).");
    QTest::newRow("a country with format signs")
        << WizardTextFor(WizardText::kErrorParametersFor, QStringLiteral("100%s %d")) << QStringLiteral("parameters for 100%s %d.");
    QTest::newRow("UTF-8 catalogue name") << CatalogueText("\xc3\x96sterreich (AT)") << QStringLiteral("\u00d6sterreich (AT)");
    QTest::newRow("Latin-1 catalogue name") << CatalogueText("\xd6sterreich (AT)") << QStringLiteral("\u00d6sterreich (AT)");
    QTest::newRow("text 218 on a label")
        << ForDisplay(QString::fromUtf8(WizardTextOf(WizardText::kNoDeviceFound)))
        << QStringLiteral("Could not find your device.  Please make sure the device is plugged in, turned on and the cable "
                          "is connected properly.\nClick Finish now.");
}

void CountryWizardTest::textsAreShownAsTheyAreMeant()
{
    QFETCH(QString, shown);
    QFETCH(QString, expected);
    QCOMPARE(shown, expected);
}

void CountryWizardTest::welcomePageShowsItsLinesAndOnlyNext()
{
    CWizardRig rig;
    QVERIFY(rig.loaded);
    CCfgSheet& sheet = rig.Open();
    QCOMPARE(sheet.windowTitle(), QStringLiteral("country"));
    QVERIFY(!sheet.windowIcon().isNull());
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kWelcomePage));
    QCOMPARE(sheet.WelcomePage()->Lines(),
             Texts({"This wizard will allow you to configure your modem's",
                    "homologation parameters quickly and easily.  It is",
                    "illegal to use local phone lines with the modem if the",
                    "modem is not configured for that country/region.  It",
                    "may also hinder the performance of the modem.", "", "Version 3.0.3.1", "",
                    "To begin the process, click Next."}));
    const ButtonsSeen buttons = SeenButtons(sheet);
    QVERIFY(!buttons.back && buttons.next && !buttons.finish && buttons.cancel);
    QCOMPARE(rig.jobs.Count(), size_t(0));  // nothing searches before Next
}

void CountryWizardTest::noModemEndsTheSearchWithText218AndOnlyFinish()
{
    CWizardRig rig;
    // Answers, but too slowly to be identified within the search's 20 ticks: the search runs out of
    // time with its worker still probing.
    modemsim::Device& slow = rig.AddModem("unknown_model.txt", 2, "fault.delay_ms = 4500\n");
    CCfgSheet& sheet = rig.Open();
    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kSearchPage));
    CIDing* search = sheet.SearchPage();
    QCOMPARE(search->StatusText(),
             QStringLiteral("Please wait while the wizard seaches for your device(s).  This may take up to 20 seconds."));
    ButtonsSeen buttons = SeenButtons(sheet);
    QVERIFY(!buttons.back && !buttons.next && !buttons.finish && buttons.cancel);
    QCOMPARE(rig.jobs.Count(), size_t(36));

    QTRY_VERIFY_WITH_TIMEOUT(!search->Searching(), kSearchWaitMs);
    QCOMPARE(search->Ticks(), 21);  // the count exceeded 20: the time was up
    QCOMPARE(search->StatusText(),
             QStringLiteral("Could not find your device.  Please make sure the device is plugged in, turned on and the "
                            "cable is connected properly.\nClick Finish now."));
    QVERIFY(search->DeviceList()->isHidden());
    buttons = SeenButtons(sheet);
    QVERIFY(!buttons.back && !buttons.next && buttons.finish);
    QCOMPARE(rig.jobs.Count(), size_t(0));
    QVERIFY(slow.waitForHostOpens(0, 10000));  // the worker still probing was stopped and let go
    Press(sheet, QWizard::FinishButton);
    QVERIFY(!sheet.isVisible());
    QVERIFY(!sheet.EndedConfigured());
}

void CountryWizardTest::twoModemsAreListedInPortOrderAndTheFirstIsConfigured()
{
    CWizardRig rig;
    modemsim::Device& agere = rig.AddModem("agere_ab12.txt", 3);
    rig.AddModem("unknown_model.txt", 4);
    modemsim::Device& conexant = rig.AddModem("conexant2_cx2400.txt", 5);
    CCfgSheet& sheet = rig.Open();
    Press(sheet, QWizard::NextButton);
    CIDing* search = sheet.SearchPage();
    QTRY_VERIFY_WITH_TIMEOUT(!search->Searching(), kSearchWaitMs);

    QCOMPARE(search->StatusText(), QStringLiteral("Devices have been identified.  Please select a device to configure."));
    QTreeWidget* list = search->DeviceList();
    QVERIFY(list->isVisible());
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("Port"));
    QCOMPARE(list->headerItem()->text(1), QStringLiteral("Model"));
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("COM3"));
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("AB12"));
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("COM5"));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("CX2400"));
    QVERIFY(list->topLevelItem(0)->isSelected());
    QVERIFY(list->columnWidth(0) * 3 <= list->viewport()->width() && list->columnWidth(0) > 0);
    ButtonsSeen buttons = SeenButtons(sheet);
    QVERIFY(buttons.back && buttons.next && !buttons.finish);

    // Next with no row selected: the error box, and the page stays.
    list->clearSelection();
    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kSearchPage));
    QCOMPARE(int(rig.boxes.shown.size()), 1);
    QCOMPARE(rig.boxes.shown.back().text, QStringLiteral("ERROR: You must select one device to configure."));
    QCOMPARE(rig.boxes.shown.back().kind, IMessageBoxes::kError);
    list->topLevelItem(0)->setSelected(true);

    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kCountryPage));
    QCOMPARE(rig.boxes.Count(ApprovalNote()), 1);
    QVERIFY(ApprovalNote().startsWith(QStringLiteral("Please note that having the country/region listed")));
    QVERIFY(ApprovalNote().endsWith(QStringLiteral(" web site at ") + QString::fromUtf8(kMakerWebAddress) + "."));
    QComboBox* countries = sheet.CountryPage()->CountryList();
    QCOMPARE(countries->count(), 8);
    QCOMPARE(countries->itemText(0), QStringLiteral("Australia (AU)"));  // sorted by name
    QCOMPARE(countries->currentText(), QStringLiteral("Australia (AU)"));
    QCOMPARE(sheet.CountryPage()->Lines().front(), QStringLiteral("Select the country/region to configure the modem for."));
    countries->setCurrentIndex(countries->findText(QStringLiteral("United States (US)")));

    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kReadyPage));
    QCOMPARE(sheet.ReadyPage()->Lines(),
             Texts({"To set the homologation parameters for", "United States (US)", "click Next."}));

    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kConfiguringPage));
    QCOMPARE(sheet.ConfiguringPage()->Lines(),
             Texts({"Attempting to set the modems homologation ", "parameters for United States (US).",
                    "Please wait......."}));
    buttons = SeenButtons(sheet);
    QVERIFY(!buttons.back && !buttons.next && !buttons.finish && !buttons.cancel);
    sheet.reject();  // Escape while the modem is being set: refused
    QVERIFY(sheet.isVisible());

    QTRY_COMPARE_WITH_TIMEOUT(sheet.currentId(), int(CCfgSheet::kSuccessPage), kConfigureWaitMs);
    QCOMPARE(sheet.SuccessPage()->Lines(),
             Texts({"The homologation parameters have been successfully", "set for the country/region you selected.",
                    "Click Finish to exit the Wizard."}));
    buttons = SeenButtons(sheet);
    QVERIFY(!buttons.back && !buttons.next && buttons.finish);

    // Exactly what the command-line run sends and records for this modem and country.
    QTRY_COMPARE_WITH_TIMEOUT(CWizardRig::HostBytesFrom(agere, "AT%T"), std::string("AT%T19,0,b5\r\nAT&F&W\r\n"),
                              5000);
    QCOMPARE(agere.state().country(), std::string("b5"));
    QCOMPARE(rig.Read("modem.ini"), std::string("[3]\r\nModelName=AB12\r\nCountryName=United States (US)\r\n"
                                                "CountryCode=b5\r\nCommandSetName=Agere\r\nCommandSet=1\r\n"
                                                "CommPort=3\r\n"));
    QCOMPARE(CWizardRig::HostBytesFrom(conexant, "AT+GCI"), std::string());
    Press(sheet, QWizard::FinishButton);
    QVERIFY(sheet.EndedConfigured());
}

void CountryWizardTest::backFromTheCountryPageDoesNotSearchAgain()
{
    CWizardRig rig;
    modemsim::Device& modem = rig.AddModem("agere_ab12.txt", 1);
    CCfgSheet& sheet = rig.Open();
    Press(sheet, QWizard::NextButton);
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.SearchPage()->Searching(), kSearchWaitMs);
    QCOMPARE(rig.jobs.Count(), size_t(1));
    CModemJob* worker = rig.jobs.At(0);
    const size_t heard = modem.state().commands().size();

    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kCountryPage));
    Press(sheet, QWizard::BackButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kSearchPage));
    ButtonsSeen buttons = SeenButtons(sheet);
    QVERIFY(buttons.back && buttons.next);
    Press(sheet, QWizard::BackButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kWelcomePage));
    Press(sheet, QWizard::NextButton);
    QVERIFY(!sheet.SearchPage()->Searching());
    buttons = SeenButtons(sheet);
    QVERIFY(buttons.back && buttons.next);
    QCOMPARE(sheet.SearchPage()->DeviceList()->topLevelItemCount(), 1);
    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kCountryPage));

    QCOMPARE(rig.jobs.Count(), size_t(1));
    QCOMPARE(rig.jobs.At(0), worker);
    QCOMPARE(modem.state().commands().size(), heard);  // the modem was not asked anything again
    QCOMPARE(rig.boxes.Count(ApprovalNote()), 1);      // once per run of the wizard
}

void CountryWizardTest::aConfigurationSlowerThanTheLimitShowsTheErrorPage()
{
    CWizardRig rig;
    // Every answer comes 2 s late: identification still succeeds, and the two commands of the set
    // take about 4 s, longer than the 3 ticks this sheet gives a configuration.
    modemsim::Device& modem = rig.AddModem("agere_ab12.txt", 2, "fault.delay_ms = 2000\n");
    WizardTiming timing;
    timing.configureTicks = 3;
    CCfgSheet& sheet = rig.Open(timing);
    Press(sheet, QWizard::NextButton);
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.SearchPage()->Searching(), kSearchWaitMs);
    QCOMPARE(rig.jobs.Count(), size_t(1));
    CModemJob* worker = rig.jobs.At(0);
    Press(sheet, QWizard::NextButton);
    Press(sheet, QWizard::NextButton);
    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kConfiguringPage));

    QTRY_COMPARE_WITH_TIMEOUT(sheet.currentId(), int(CCfgSheet::kErrorPage), kConfigureWaitMs);
    QVERIFY(!worker->Done());  // still sending: the page gave up on time, not on an answer
    QCOMPARE(sheet.ErrorPage()->Lines(),
             Texts({"An error occurred while configuring the homologation", "parameters for Australia (AU).",
                    "To try again, click Back.  To exit, click Finish."}));
    ButtonsSeen buttons = SeenButtons(sheet);
    QVERIFY(buttons.back && !buttons.next && buttons.finish && buttons.cancel);

    // The late success changes nothing on the page.
    QVERIFY(worker->WaitUntilDone(30000));
    QCOMPARE(worker->Identified(), 1);
    QCOMPARE(modem.state().country(), std::string("9"));
    QTest::qWait(600);  // a few more ticks' worth of events
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kErrorPage));
}

void CountryWizardTest::backFromTheErrorPageAndASecondAttemptSucceed()
{
    CWizardRig rig;
    modemsim::Device& modem = rig.AddModem("agere_ab12.txt", 2);
    CCfgSheet& sheet = rig.Open();
    Press(sheet, QWizard::NextButton);
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.SearchPage()->Searching(), kSearchWaitMs);
    Press(sheet, QWizard::NextButton);
    QComboBox* countries = sheet.CountryPage()->CountryList();
    countries->setCurrentIndex(countries->findText(QStringLiteral("France (FR)")));
    Press(sheet, QWizard::NextButton);

    // The cable comes out while the modem waits: the configuration fails.
    const int line = modem.lineGeneration();
    modem.disconnect();
    Press(sheet, QWizard::NextButton);
    QTRY_COMPARE_WITH_TIMEOUT(sheet.currentId(), int(CCfgSheet::kErrorPage), kConfigureWaitMs);
    QCOMPARE(sheet.ErrorPage()->Lines().at(1), QStringLiteral("parameters for France (FR)."));
    QVERIFY(!std::filesystem::exists(rig.dir / "modem.ini"));

    // It goes back in; Back returns to the country page, past the configuring and ready pages.
    modem.reboot(0);
    QVERIFY(modem.waitForLine(line + 1, 10000));
    Press(sheet, QWizard::BackButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kCountryPage));
    ButtonsSeen buttons = SeenButtons(sheet);
    QVERIFY(buttons.back && buttons.next);
    countries->setCurrentIndex(countries->findText(QStringLiteral("Germany (DE)")));
    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.ReadyPage()->Lines().at(1), QStringLiteral("Germany (DE)"));
    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kConfiguringPage));
    QCOMPARE(sheet.ConfiguringPage()->Lines().at(1), QStringLiteral("parameters for Germany (DE)."));
    QVERIFY(sheet.ConfiguringPage()->Reidentifying());  // the first worker ended: a new one identifies again
    QVERIFY(SeenButtons(sheet).cancel);                  // nothing is sent to the modem yet
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.ConfiguringPage()->Reidentifying(), kConfigureWaitMs);
    QVERIFY(!SeenButtons(sheet).cancel || sheet.currentId() == CCfgSheet::kSuccessPage);

    QTRY_COMPARE_WITH_TIMEOUT(sheet.currentId(), int(CCfgSheet::kSuccessPage), kConfigureWaitMs);
    QCOMPARE(modem.state().country(), std::string("fd"));
    QCOMPARE(rig.jobs.Count(), size_t(1));  // the first worker was let go, not kept beside the new one
    QVERIFY(rig.Read("modem.ini").find("[2]\r\nModelName=AB12\r\nCountryName=Germany (DE)\r\nCountryCode=fd\r\n") == 0);
    QCOMPARE(rig.boxes.Count(ApprovalNote()), 1);
}

void CountryWizardTest::cancelDuringTheSearchStopsEveryWorkerAndReleasesEveryPort()
{
    CWizardRig rig;
    modemsim::Device& first = rig.AddModem("agere_ab12.txt", 1);
    modemsim::Device& second = rig.AddModem("conexant2_cx2400.txt", 7);
    CCfgSheet& sheet = rig.Open();
    Press(sheet, QWizard::NextButton);
    QVERIFY(first.waitForHostOpens(1, 10000));  // being probed (the first command comes after 4 s)
    QVERIFY(second.waitForHostOpens(1, 10000));
    Press(sheet, QWizard::CancelButton);
    QVERIFY(!sheet.isVisible());
    QCOMPARE(sheet.result(), int(QDialog::Rejected));
    for (size_t i = 0; i < rig.jobs.Count(); ++i)
        QVERIFY2(rig.jobs.At(i)->WaitUntilDone(10000), rig.jobs.At(i)->PortName().c_str());
    QVERIFY(first.waitForHostOpens(0, 10000));
    QVERIFY(second.waitForHostOpens(0, 10000));
    QCOMPARE(first.state().commands().size(), size_t(0));  // stopped before it asked anything
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.SearchPage()->Searching(), 5000);  // the closed wizard polls no more
    QVERIFY(sheet.SearchPage()->DeviceList()->isHidden());
}

void CountryWizardTest::cancelOnTheCountryPageReleasesEveryPort()
{
    CWizardRig rig;
    modemsim::Device& first = rig.AddModem("agere_ab12.txt", 1);
    modemsim::Device& second = rig.AddModem("conexant2_cx2400.txt", 7);
    CCfgSheet& sheet = rig.Open();
    Press(sheet, QWizard::NextButton);
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.SearchPage()->Searching(), kSearchWaitMs);
    QCOMPARE(rig.jobs.Count(), size_t(2));
    QCOMPARE(first.hostOpens(), 1);  // identified workers hold their ports while they wait
    QCOMPARE(second.hostOpens(), 1);
    Press(sheet, QWizard::NextButton);
    QCOMPARE(sheet.currentId(), int(CCfgSheet::kCountryPage));
    Press(sheet, QWizard::CancelButton);
    QVERIFY(!sheet.isVisible());
    QVERIFY(first.waitForHostOpens(0, 10000));
    QVERIFY(second.waitForHostOpens(0, 10000));
    QCOMPARE(first.state().country(), std::string());
}

// Every label of the page shows its whole text, and the page keeps the original dialog's least size.
static void CheckNothingCut(CSheetPage* page)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QSize least = DialogUnitsToPixels(page->font(), 290, 95);
    QVERIFY(page->width() >= least.width());
    QVERIFY(page->height() >= least.height());
    for (QLabel* label : page->findChildren<QLabel*>()) {
        if (!label->isVisible())
            continue;
        QVERIFY2(page->rect().contains(label->geometry()), qPrintable(label->text()));
        if (label->wordWrap())
            QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(label->text()));
        else
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
    }
}

void CountryWizardTest::pagesGrowWithALargerFontAndCutNothing()
{
    struct FontHold {
        QFont saved = QApplication::font();
        ~FontHold() { QApplication::setFont(saved); }
    } hold;
    QFont large = hold.saved;
    large.setPointSizeF(hold.saved.pointSizeF() * 1.8);
    QApplication::setFont(large);

    CWizardRig rig;  // no modem: the search ends at its first tick
    CCfgSheet& sheet = rig.Open();
    CheckNothingCut(sheet.WelcomePage());
    Press(sheet, QWizard::NextButton);
    CheckNothingCut(sheet.SearchPage());
    QTRY_VERIFY_WITH_TIMEOUT(sheet.SearchPage()->NothingFound(), kSearchWaitMs);
    CheckNothingCut(sheet.SearchPage());
    QVERIFY(sheet.SearchPage()->Lines().front().contains(QStringLiteral("Click Finish now.")));
}

void CountryWizardTest::startUpNamesAMissingCatalogueInAMessageBox()
{
    struct Case {
        const char* removed;
        const char* message;
    };
    for (const Case& c : {Case{"Models.ini", kModelsIniMissing}, Case{"Country.ini", kCountryIniMissing}}) {
        CWizardRig rig;
        FreeModels();
        FreeCountries();
        std::filesystem::remove(rig.dir / c.removed);
        auto services = MakeRecordingProcessServices((rig.dir / "requests.txt").string());
        int result = -1;
        {
            CCountryApp app(*services, std::cerr);
            app.SetMessageBoxes(&rig.boxes);
            result = app.Start({});
        }
        QCOMPARE(result, 1);
        QCOMPARE(int(rig.boxes.shown.size()), 1);
        QCOMPARE(rig.boxes.shown.front().text, QString::fromUtf8(c.message));
        QCOMPARE(rig.boxes.shown.front().kind, IMessageBoxes::kError);
        QVERIFY(Countries().empty() && Models().empty());
    }
}

void CountryWizardTest::startUpShowsTheWizardWithoutParameters()
{
    CWizardRig rig;
    FreeModels();
    FreeCountries();
    auto services = MakeRecordingProcessServices((rig.dir / "requests.txt").string());
    QString caption;
    int startId = -1;
    // The wizard runs modally: look at it from inside its event loop, then cancel it.
    QTimer::singleShot(0, [&] {
        auto* sheet = dynamic_cast<CCfgSheet*>(QApplication::activeModalWidget());
        if (sheet == nullptr)
            return;
        caption = sheet->windowTitle();
        startId = sheet->currentId();
        sheet->reject();
    });
    int result = -1;
    {
        CCountryApp app(*services, std::cerr);
        app.SetMessageBoxes(&rig.boxes);
        result = app.Start({"-s", "-d"});  // the shut-down flag has no effect in the wizard
    }
    QCOMPARE(caption, QStringLiteral("country"));
    QCOMPARE(startId, int(CCfgSheet::kWelcomePage));
    QCOMPARE(result, 1);  // cancelled: nothing was configured
    QVERIFY(rig.boxes.shown.empty());
    QVERIFY(!std::filesystem::exists(rig.dir / "requests.txt"));
    QVERIFY(Countries().empty() && Models().empty());  // freed at the end
}

QTEST_MAIN(CountryWizardTest)
#include "country_wizard_test.moc"
