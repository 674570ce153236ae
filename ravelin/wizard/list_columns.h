// Report lists whose column widths follow the list's width.
#pragma once

#include <QList>

#include <functional>

class QTreeWidget;

// Keeps a report list's column widths a function of the list's visible width, whenever it changes
// (a list filled before it is laid out would otherwise keep widths made for no width at all).
void wiz_SetColumnWidths(QTreeWidget *pList, std::function<QList<int>(int nWidth)> widths);
