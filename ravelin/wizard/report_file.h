// The status page's report: the run's results as a CSV file a service department files away.
#pragma once

#include <string>

struct UpdateRun;
struct HistRunRecords;

// The header row of the report (no line end).
extern const char wiz_kReportHeader[];

// The report's text: the header and one row per selected device, in run order: port, model, the
// version before and the image's version, the version read back (when checked), the image's name and
// SHA-256, the result's code and text, and why. Lines end in CR LF.
std::string wiz_ReportText(const UpdateRun *pRun, const HistRunRecords *pRecords);

// Writes the report to pszPath, replacing the file whole or not at all. False with the reason in
// *pError when it cannot.
bool wiz_WriteReport(const char *pszPath, const UpdateRun *pRun, const HistRunRecords *pRecords, std::string *pError);
