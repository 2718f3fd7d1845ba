#include "gui/window/SortListCtrl.h"

#include <QtGui/QContextMenuEvent>
#include <QtWidgets/QHeaderView>

#include <cmath>
#include <optional>

#include "platform/Paths.h"

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

// Seconds of a duration text, "mm:ss" or "h:mm:ss"; none for a blank or malformed one.
std::optional<long long> DurationSeconds(const QString& text) {
    const QStringList parts = text.trimmed().split(u':');
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    long long total = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const long long value = part.size() <= 9 ? part.toLongLong(&ok) : 0;
        if (!ok || value < 0) return std::nullopt;
        total = total * 60 + value;
    }
    return total;
}

// The leading decimal number of a text ("-14.2 LUFS" gives -14.2); none when the text starts otherwise.
std::optional<double> LeadingDecimal(const QString& text) {
    const QString first = text.trimmed().section(u' ', 0, 0);
    bool ok = false;
    const double value = first.size() <= 32 ? first.toDouble(&ok) : 0.0;
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

// Whether a text has no value for a column of that sort type (such rows end the list either way).
bool BlankFor(const QString& text, int type) {
    if (type == SortListCtrl::kSortMinutesSeconds) return !DurationSeconds(text);
    if (type == SortListCtrl::kSortDecimal) return !LeadingDecimal(text);
    return false;
}

}  // namespace

std::string RowName(const FileItem& item) {
    if (item.cue && !item.cue->title.empty()) return item.cue->title;
    return FileNamePart(item.sourcePath);
}

FileRow::FileRow(std::unique_ptr<FileItem> item) : item_(std::move(item)) {}

bool FileRow::operator<(const QTreeWidgetItem& other) const {
    const auto* tree = qobject_cast<const SortListCtrl*>(treeWidget());
    const int column = tree ? tree->sortColumn() : 0;
    const int type = tree ? tree->ColumnSortType(column) : SortListCtrl::kSortText;
    // Rows without a duration or a level end the list in both directions (a descending sort asks other < this).
    const bool blank = BlankFor(text(column), type);
    const bool otherBlank = BlankFor(other.text(column), type);
    if (blank != otherBlank) return (tree == nullptr || tree->sortAscending()) ? otherBlank : blank;
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
            // In seconds, hours included; a text that is no duration comes after every duration.
            const std::optional<long long> va = DurationSeconds(left);
            const std::optional<long long> vb = DurationSeconds(right);
            if (!va || !vb) return (va ? 0 : 1) - (vb ? 0 : 1);
            return sign(*va - *vb);
        }
        case kSortDecimal: {
            const std::optional<double> va = LeadingDecimal(left);
            const std::optional<double> vb = LeadingDecimal(right);
            if (!va || !vb) return (va ? 0 : 1) - (vb ? 0 : 1);
            return *va < *vb ? -1 : (*vb < *va ? 1 : 0);
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
