#include "gui/window/SortListCtrl.h"

#include <QtGui/QContextMenuEvent>
#include <QtWidgets/QHeaderView>

namespace pelloran {

namespace {

// Texts longer than this take part in a comparison only up to it.
constexpr int kMaxCompared = 259;

// The leading decimal number of a text ("128 kbps" gives 128), 0 when there is none.
long long LeadingNumber(const QString& text, int from = 0) {
    int i = from;
    while (i < text.size() && text[i].isSpace()) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i].isDigit() && value < (1LL << 50); ++i) value = value * 10 + text[i].digitValue();
    return negative ? -value : value;
}

}  // namespace

FileRow::FileRow(std::unique_ptr<FileItem> item) : item_(std::move(item)) {}

bool FileRow::operator<(const QTreeWidgetItem& other) const {
    const auto* tree = qobject_cast<const SortListCtrl*>(treeWidget());
    const int column = tree ? tree->sortColumn() : 0;
    const int type = tree ? tree->ColumnSortType(column) : SortListCtrl::kSortText;
    return SortListCtrl::CompareTexts(text(column), other.text(column), type) < 0;
}

SortListCtrl::SortListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    connect(header(), &QHeaderView::sectionClicked, this, &SortListCtrl::SortByColumn);
}

void SortListCtrl::SetColumnSortType(int column, int type) {
    if (column >= 0 && column < 100) columnSortType_[column] = type;
}

int SortListCtrl::ColumnSortType(int column) const {
    return column >= 0 && column < 100 ? columnSortType_[column] : kSortText;
}

int SortListCtrl::CompareTexts(const QString& a, const QString& b, int type) {
    const QString left = a.left(kMaxCompared);
    const QString right = b.left(kMaxCompared);
    const auto sign = [](long long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); };
    switch (type) {
        case kSortNumber: return sign(LeadingNumber(left) - LeadingNumber(right));
        case kSortMinutesSeconds: {
            // Minutes before the first colon, seconds after it; a text without a colon is level with any.
            const int ca = left.indexOf(':');
            const int cb = right.indexOf(':');
            if (ca < 0 || cb < 0) return 0;
            const long long va = LeadingNumber(left) * 60 + LeadingNumber(left, ca + 1);
            const long long vb = LeadingNumber(right) * 60 + LeadingNumber(right, cb + 1);
            return sign(va - vb);
        }
        default: return sign(QString::localeAwareCompare(left, right));
    }
}

void SortListCtrl::SortByColumn(int column) {
    sortAscending_ = column != sortColumn_ ? true : !sortAscending_;
    sortColumn_ = column;
    sortItems(column, sortAscending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
}

FileRow* SortListCtrl::Row(int index) const { return static_cast<FileRow*>(topLevelItem(index)); }

std::vector<FileRow*> SortListCtrl::SelectedRows() const {
    std::vector<FileRow*> rows;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->isSelected()) rows.push_back(Row(i));
    }
    return rows;
}

std::vector<FileRow*> SortListCtrl::AllRows() const {
    std::vector<FileRow*> rows;
    for (int i = 0; i < topLevelItemCount(); ++i) rows.push_back(Row(i));
    return rows;
}

void SortListCtrl::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Keyboard) {
        emit ContextMenuWanted(mapToGlobal(rect().center()), true);
    } else {
        emit ContextMenuWanted(event->globalPos(), false);
    }
    event->accept();
}

}  // namespace pelloran
