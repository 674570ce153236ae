// The wizard's test classes (one CTest test each).
#pragma once

#include <QObject>

class StartupTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void catalogueFailureEndsWithItsMessage_data();
    void catalogueFailureEndsWithItsMessage();
    void commandLineChoosesPortsAndPageSet_data();
    void commandLineChoosesPortsAndPageSet();
    void onePortThatCannotBeUsedIsNoSuccess();
};

class PageTextTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void deviceVersionColumn_data();
    void deviceVersionColumn();
    void imageRow_data();
    void imageRow();
    void pictureIsDrawn();
    void deviceTypesListEachNameOnce();
};

class OrdinaryWalkTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void twoModelsFromDetectionToStatus();
};

class DevelopersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void flashIniWrittenUsedAndReadBack();
    void flashIniThatCannotBeWrittenIsReported();
    void flashIniFoundWithoutRegardToCase();
};

class OnePortTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void portFromCommandLineUpdatedWithoutIdentification();
    void failedDeviceIsNoSuccess();
    void modelOfTheCommandLineChoosesTheRockwellLoader();
};

class CancelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cancelWhileIdentifying();
    void cancelOnIdentifiedDetectionPage();
    void cancelOnModelPage();
    void cancelOnDevelopersPage();
    void noCancelOnceTheUpdateRuns();
};

class HistoryReportTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void updatesAreRecordedAndTheReportSaved();
    void aReportThatCannotBeWrittenIsSaid();
    void aHistoryThatCannotBeWrittenIsALineOnTheStatusPage();
};

class DetectionErrorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void noImages();
    void noDevices();
    void identificationTimeOut();
    void endWaitsForIdentificationTheTimeOutDropped();
};

class ProgressListTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyDeviceHasItsRow();
    void rowsFollowARealUpdate();
};

class ResumeOfferTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void yesFinishesTheInterruptedUpdate();
    void noGoesOnWithTheDetection();
    void noOfferWithoutInterruptedUpdates();
};
