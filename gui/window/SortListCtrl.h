#pragma once
// The file list: one row per FileItem, seven columns (Loudness hidden until a row is measured), sorting by a click on a column header.

#include <QtWidgets/QTreeWidget>

#include <memory>
#include <vector>

#include "app/FileItem.h"

namespace pelloran {

// The File column's text: the file's name, or for a track of an album its number and title.
std::string RowName(const FileItem& item);

// A list row; it owns its entry, which is freed with the row.
class FileRow : public QTreeWidgetItem {
public:
    explicit FileRow(std::unique_ptr<FileItem> item);
    FileItem& item() { return *item_; }
    const FileItem& item() const { return *item_; }
    bool operator<(const QTreeWidgetItem& other) const override;

    // What this row was converted to since the window opened, and the output format; empty when nothing.
    std::string convertedTarget;
    int32_t convertedFormat = 0;
    // While the row converts: its status, which its percentage follows.
    QString runningText;

private:
    std::unique_ptr<FileItem> item_;
};

class SortListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    // kSortDecimal: by the leading decimal number ("-14.2 LUFS"); rows without one end the list.
    enum SortType { kSortText = 0, kSortNumber = 1, kSortDecimal = 2, kSortMinutesSeconds = 4 };
    enum Column { kColFile, kColDuration, kColBitRate, kColFreq, kColChannels, kColLoudness, kColStatus, kColumnCount };

    explicit SortListCtrl(QWidget* parent = nullptr);

    void SetColumnSortType(int column, int type);
    int ColumnSortType(int column) const;
    // What a click on the header of column does.
    void SortByColumn(int column);
    int sortColumn() const { return sortColumn_; }
    bool sortAscending() const { return sortAscending_; }
    // -1, 0 or 1 as a is before, level with or after b for a column of that sort type.
    static int CompareTexts(const QString& a, const QString& b, int type);

    int RowCount() const { return topLevelItemCount(); }
    FileRow* Row(int index) const;
    // Selected rows in list order.
    std::vector<FileRow*> SelectedRows() const;
    std::vector<FileRow*> AllRows() const;

signals:
    // A context menu is wanted at a global position; fromKeyboard when it came from a key.
    void ContextMenuWanted(const QPoint& globalPos, bool fromKeyboard);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int sortColumn_ = -1;
    bool sortAscending_ = true;
    int columnSortType_[100] = {};
};

}  // namespace pelloran
