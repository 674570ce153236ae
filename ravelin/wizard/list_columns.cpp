#include "ravelin/wizard/list_columns.h"

#include <QEvent>
#include <QTreeWidget>

namespace {

class CColumnWidths : public QObject {
public:
    static constexpr const char *kName = "wizColumnWidths";
    CColumnWidths(QTreeWidget *pList, std::function<QList<int>(int)> widths)
        : QObject(pList), m_pList(pList), m_widths(std::move(widths))
    {
        setObjectName(QLatin1String(kName));
        pList->viewport()->installEventFilter(this);
        Apply();
    }
    void Apply()
    {
        QList<int> widths = m_widths(m_pList->viewport()->width());
        for (int i = 0; i < widths.size(); ++i) m_pList->setColumnWidth(i, widths[i]);
    }

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override
    {
        if (pEvent->type() == QEvent::Resize) Apply();
        return QObject::eventFilter(pWatched, pEvent);
    }

private:
    QTreeWidget *m_pList;
    std::function<QList<int>(int)> m_widths;
};

} // namespace

void wiz_SetColumnWidths(QTreeWidget *pList, std::function<QList<int>(int nWidth)> widths)
{
    // The list's earlier rule goes (the class has no meta-object of its own: found by its name).
    for (QObject *pOld : pList->findChildren<QObject *>(QLatin1String(CColumnWidths::kName), Qt::FindDirectChildrenOnly))
        delete pOld;
    new CColumnWidths(pList, std::move(widths));
}
