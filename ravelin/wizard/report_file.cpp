#include "ravelin/wizard/report_file.h"

#include <QSaveFile>
#include <QString>

#include <iterator>

#include "ravelin/flash/flashinfo.h"
#include "ravelin/history/hist_fields.h"
#include "ravelin/history/hist_run.h"
#include "ravelin/wizard/wizard_page.h"

const char wiz_kReportHeader[] =
    "port,model,version_before,image_version,verified_version,image,image_sha256,result,result_text,detail";

std::string wiz_ReportText(const UpdateRun *pRun, const HistRunRecords *pRecords)
{
    std::string text = std::string(wiz_kReportHeader) + "\r\n";
    for (std::size_t i = 0; i < pRun->devices.size(); ++i) {
        const RunDevice &device = *pRun->devices[i];
        if (!device.bSelected) continue;
        // The records hold what the run was told (the image's fingerprint among it); a device without
        // one (the history was given up before the run) still gets its row from the run.
        const HistRunRecord *pRow = nullptr;
        for (const HistRunRecord &row : pRecords->rows)
            if (row.nDevice == static_cast<int>(i)) pRow = &row;
        HistRecord record;
        if (pRow != nullptr) {
            record = pRow->record;
        } else {
            hist_InitRecord(&record);
            os_CopyBounded(record.szPort, flsh_PortDisplayName(device.pUpdate), hist_kPortLen);
            os_CopyBounded(record.szModel, wiz_ModelName(device.type), hist_kTextLen);
        }
        int nResult = flsh_RunResult(pRun, static_cast<int>(i));
        std::string result = nResult == FR_NONE ? "" : std::to_string(nResult);
        const char *pszResult = nResult == FR_NONE ? "" : flsh_RunResultText(pRun, static_cast<int>(i));
        const std::string fields[] = {record.szPort,      record.szModel,          record.szVersionBefore,
                                      record.szImageVersion, record.szVerifiedVersion, record.szImage,
                                      record.szImageSha256, result,                 pszResult,
                                      device.pUpdate->szResultDetail};
        std::string line;
        for (std::size_t n = 0; n < std::size(fields); ++n) line += (n > 0 ? "," : "") + hist_CsvField(fields[n]);
        text += line + "\r\n";
    }
    return text;
}

bool wiz_WriteReport(const char *pszPath, const UpdateRun *pRun, const HistRunRecords *pRecords, std::string *pError)
{
    QSaveFile file(QString::fromLocal8Bit(pszPath));
    std::string text = wiz_ReportText(pRun, pRecords);
    bool bOk = file.open(QIODevice::WriteOnly) &&
               file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
               file.commit();
    if (!bOk && pError != nullptr) *pError = file.errorString().toLocal8Bit().toStdString();
    return bOk;
}
