#include "rarpar/JobTree.h"

#include "common/MessageTable.h"

#include <QRandomGenerator>

#include <functional>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

int subtreeSize(const JobNode &node)
{
    int n = 1;
    for (const auto &child : node.children)
        n += subtreeSize(*child);
    return n;
}

void flattenInto(const JobNode &node, QVector<FlatNode> &out)
{
    out.push_back({node.caption, node.key, node.image, node.parent && node.parent->parent ? node.parent->key : QString()});
    for (const auto &child : node.children)
        flattenInto(*child, out);
}

void leavesInto(const JobNode &node, QStringList &out)
{
    for (const auto &child : node.children) {
        if (child->children.empty())
            out << child->caption;
        else
            leavesInto(*child, out);
    }
}

void forEachKey(const JobNode &node, const std::function<void(const QString &)> &f)
{
    if (!node.key.isEmpty())
        f(node.key);
    for (const auto &child : node.children)
        forEachKey(*child, f);
}

} // namespace

QString NewNodeKey()
{
    quint8 bytes[10];
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes), 2);
    const quint32 more = QRandomGenerator::system()->generate();
    bytes[8] = quint8(more);
    bytes[9] = quint8(more >> 8);
    QString key = u"K"_s;
    for (quint8 b : bytes)
        key += u"%1"_s.arg(b, 2, 16, QChar(u'0')).toUpper();
    return key;
}

JobTree::JobTree(QObject *parent)
    : QAbstractItemModel(parent)
{
    resetToPlaceholder();
}

JobTree::~JobTree() = default;

JobNode *JobTree::findKey(const QString &key) const
{
    return keys_.value(key, nullptr);
}

void JobTree::clearAll()
{
    beginResetModel();
    root_.children.clear();
    nodeCount_ = 0;
    keys_.clear();
    endResetModel();
}

void JobTree::resetToPlaceholder()
{
    clearAll();
    auto node = std::make_unique<JobNode>();
    node->caption = msg(109);
    node->image = JobImagePlaceholder;
    node->parent = &root_;
    beginInsertRows({}, 0, 0);
    root_.children.push_back(std::move(node));
    nodeCount_ = 1;
    endInsertRows();
}

JobNode *JobTree::addChild(JobNode *parent, const QString &caption, const QString &key, int image)
{
    auto node = std::make_unique<JobNode>();
    node->caption = caption;
    node->key = key;
    node->image = image;
    node->parent = parent;
    JobNode *raw = node.get();
    parent->children.push_back(std::move(node));
    if (!key.isEmpty())
        keys_.insert(key, raw);
    ++nodeCount_;
    return raw;
}

void JobTree::addJob(const RarParJob &job)
{
    if (nodeCount_ == 1)
        clearAll();
    const int row = rootCount();
    beginInsertRows({}, row, row);
    JobNode *top = addChild(&root_, job.name, NewNodeKey(), JobImageJob);
    const QString values[] = {job.rar, job.par2, job.savePath, job.subject, job.newsgroups, job.nzb,
                              QString::number(job.totalSize), QString::number(job.archives)};
    const char16_t *const headers[] = {u"Rar Parameter", u"Par2 Parameter", u"Save Path", u"Subject",
                                       u"Newsgroups", u"NZB", u"Total Size (Bytes)", u"Number of archives"};
    for (int i = 0; i < 8; ++i) {
        JobNode *header = addChild(top, QString::fromUtf16(headers[i]), NewNodeKey(), JobImageHeader);
        addChild(header, values[i], {}, JobImageValue);
    }
    JobNode *extra = addChild(top, u"Extra Files"_s, NewNodeKey(), JobImageHeader);
    for (const QString &path : job.extraFiles)
        addChild(extra, path, {}, JobImageValue);
    // After the extra files, and only when set: a job file without them
    // reads as before.
    if (job.obfuscate)
        addChild(addChild(top, QString::fromUtf16(kObfuscateHeader), NewNodeKey(), JobImageHeader), u"1"_s, {}, JobImageValue);
    if (!job.postNzb && !job.nzb.isEmpty())
        addChild(addChild(top, QString::fromUtf16(kPostNzbHeader), NewNodeKey(), JobImageHeader), u"0"_s, {}, JobImageValue);
    endInsertRows();
}

void JobTree::removeRoot(int row)
{
    if (row < 0 || row >= rootCount())
        return;
    JobNode *node = root_.children.at(size_t(row)).get();
    forEachKey(*node, [this](const QString &key) { keys_.remove(key); });
    const int removed = subtreeSize(*node);
    beginRemoveRows({}, row, row);
    root_.children.erase(root_.children.begin() + row);
    nodeCount_ -= removed;
    endRemoveRows();
    if (nodeCount_ == 0)
        resetToPlaceholder();
}

void JobTree::moveRoot(int from, int to)
{
    const int n = rootCount();
    if (from < 0 || from >= n || to < 0 || to > n || to == from || to == from + 1)
        return;
    beginMoveRows({}, from, from, {}, to);
    auto node = std::move(root_.children[size_t(from)]);
    root_.children.erase(root_.children.begin() + from);
    root_.children.insert(root_.children.begin() + (to > from ? to - 1 : to), std::move(node));
    endMoveRows();
}

bool JobTree::addStoredNode(const FlatNode &node, QString *why)
{
    if (!node.key.isEmpty() && findKey(node.key)) {
        *why = u"duplicate key "_s + node.key;
        return false;
    }
    JobNode *parent = &root_;
    if (!node.parentKey.isEmpty()) {
        parent = findKey(node.parentKey);
        if (!parent) {
            *why = u"unknown parent key "_s + node.parentKey;
            return false;
        }
    }
    const int row = int(parent->children.size());
    beginInsertRows(indexOf(parent), row, row);
    addChild(parent, node.caption, node.key, node.image);
    endInsertRows();
    return true;
}

QVector<FlatNode> JobTree::flatten() const
{
    QVector<FlatNode> out;
    out.reserve(nodeCount_);
    for (const auto &child : root_.children)
        flattenInto(*child, out);
    return out;
}

QStringList JobTree::leafCaptions(int row) const
{
    QStringList out;
    if (row >= 0 && row < rootCount())
        leavesInto(*rootAt(row), out);
    return out;
}

QStringList JobTree::valuesUnder(int row, const QString &header) const
{
    QStringList out;
    if (row < 0 || row >= rootCount())
        return out;
    for (const auto &child : rootAt(row)->children)
        if (child->caption == header)
            for (const auto &value : child->children)
                out << value->caption;
    return out;
}

void JobTree::relabel()
{
    for (int row = 0; row < rootCount(); ++row) {
        JobNode *node = root_.children[size_t(row)].get();
        if (node->image == JobImagePlaceholder && node->key.isEmpty() && node->children.empty()) {
            node->caption = msg(109);
            const QModelIndex i = index(row, 0);
            emit dataChanged(i, i, {Qt::DisplayRole});
        }
    }
}

JobNode *JobTree::nodeOf(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<JobNode *>(index.internalPointer()) : const_cast<JobNode *>(&root_);
}

QModelIndex JobTree::indexOf(const JobNode *node) const
{
    if (!node || node == &root_ || !node->parent)
        return {};
    const auto &siblings = node->parent->children;
    for (size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == node)
            return createIndex(int(i), 0, const_cast<JobNode *>(node));
    return {};
}

QModelIndex JobTree::index(int row, int column, const QModelIndex &parent) const
{
    const JobNode *p = nodeOf(parent);
    if (column != 0 || row < 0 || row >= int(p->children.size()))
        return {};
    return createIndex(row, 0, p->children[size_t(row)].get());
}

QModelIndex JobTree::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return {};
    return indexOf(nodeOf(child)->parent);
}

int JobTree::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return int(nodeOf(parent)->children.size());
}

int JobTree::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant JobTree::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const JobNode *node = nodeOf(index);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return node->caption;
    case ImageRole:
        return node->image;
    default:
        return {};
    }
}

JobTree &jobTree()
{
    static JobTree tree;
    return tree;
}

} // namespace tessaly
