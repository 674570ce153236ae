#include "country/wizard/IDing.h"

#include "country/PortWriter/CountryClock.h"
#include "country/config/ModemJobList.h"
#include "country/wizard/CfgSheet.h"
#include "country/wizard/message_boxes.h"
#include "country/wizard/wizard_texts.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const int kPortRole = Qt::UserRole;
const int kVisibleRows = 5;

// A report list a few rows high, so that the page keeps the original dialog's height.
class CDeviceList : public QTreeWidget {
public:
    explicit CDeviceList(QWidget* parent) : QTreeWidget(parent) {}
    QSize sizeHint() const override
    {
        const int rows = fontMetrics().height() * kVisibleRows + header()->sizeHint().height();
        return QSize(QTreeWidget::sizeHint().width(), rows + 2 * frameWidth());
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

}  // namespace

CIDing::CIDing(CCfgSheet& sheet) : CSheetPage(sheet)
{
    m_status = AddParagraph();
    m_list = new CDeviceList(this);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({QString::fromUtf8(kPortColumn), QString::fromUtf8(kModelColumn)});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->header()->setStretchLastSection(true);
    m_list->header()->setSectionsMovable(false);
    m_list->hide();
    Column()->addSpacing(fontMetrics().height() / 2);
    Column()->addWidget(m_list);
    Column()->addStretch(1);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTick(); });
}

void CIDing::OnInit()
{
    m_status->setText(ForDisplay(QString::fromUtf8(WizardTextOf(WizardText::kSearching))));
}

void CIDing::OnActivate()
{
    if (m_searchStarted) {
        Sheet().SetWizardButtons(CCfgSheet::kBack | CCfgSheet::kNext);
        return;
    }
    // The search runs once per wizard run.
    m_searchStarted = true;
    Sheet().SetWizardButtons(0);
    Sheet().Jobs().StartScan(Sheet().Logging());
    m_ticks = 0;
    m_timer.start(static_cast<int>(CClock::ToRealMs(Sheet().Timing().tickMs)));
}

void CIDing::OnTick()
{
    // A cancelled wizard has stopped its workers: nothing is left to show.
    if (!Sheet().isVisible()) {
        m_timer.stop();
        return;
    }
    ++m_ticks;
    CModemJobList& jobs = Sheet().Jobs();
    if (m_ticks <= Sheet().Timing().searchTicks && !jobs.AllDone())
        return;
    m_timer.stop();
    // Workers still probing when the time is up are stopped here; only identified ones stay.
    jobs.Prune();
    if (jobs.Count() > 0)
        ShowDevices();
    else
        ShowNoDevice();
}

void CIDing::ShowDevices()
{
    Sheet().SetWizardButtons(CCfgSheet::kBack | CCfgSheet::kNext);
    m_list->show();
    m_status->setText(QString::fromUtf8(kDevicesIdentified));
    m_list->clear();
    const CModemJobList& jobs = Sheet().Jobs();
    for (size_t i = 0; i < jobs.Count(); ++i) {
        const CModemJob* job = jobs.At(i);
        auto* row = new QTreeWidgetItem(m_list, {QString::fromStdString(job->PortName()),
                                                 QString::fromStdString(job->ModelName())});
        row->setData(0, kPortRole, job->PortNumber());
    }
    SizeColumns();
    m_list->setFocus();
    m_list->setCurrentItem(m_list->topLevelItem(0));
}

void CIDing::ShowNoDevice()
{
    m_nothingFound = true;
    m_status->setText(ForDisplay(QString::fromUtf8(WizardTextOf(WizardText::kNoDeviceFound))));
    Sheet().SetWizardButtons(CCfgSheet::kFinish);
}

bool CIDing::validatePage()
{
    // QWizard asks the page before Finish too: with no modem found there is nothing to choose.
    if (m_nothingFound)
        return true;
    const QList<QTreeWidgetItem*> chosen = m_list->selectedItems();
    CModemJob* job = nullptr;
    if (!chosen.isEmpty()) {
        // Rows keep the port, not the worker: a second attempt replaces the worker of a port.
        const int port = chosen.front()->data(0, kPortRole).toInt();
        const CModemJobList& jobs = Sheet().Jobs();
        for (size_t i = 0; i < jobs.Count() && job == nullptr; ++i)
            if (jobs.At(i)->PortNumber() == port)
                job = jobs.At(i);
    }
    if (job == nullptr) {
        Sheet().Boxes().Show(this, IMessageBoxes::kError, QString::fromUtf8(kSelectOneDevice));
        return false;
    }
    Sheet().SelectWorker(job);
    return true;
}

QString CIDing::StatusText() const
{
    return m_status->text();
}

void CIDing::resizeEvent(QResizeEvent* event)
{
    CSheetPage::resizeEvent(event);
    SizeColumns();
}

void CIDing::SizeColumns()
{
    // A quarter of the list for the port, the rest (the last, stretching column) for the model.
    m_list->header()->resizeSection(0, m_list->viewport()->width() / 4);
}
