// The Rar & Par job list: a tree of captioned nodes, and the model the
// window's job tree shows. One job is a root node (image 1) with nine headers
// (image 2), eight of them holding one value (image 3) and "Extra Files"
// holding one value per extra file. With no job the tree holds one
// placeholder node (image 4). The list order is the order jobs run in, the
// order they are saved in and the order they are shown in.
#pragma once

#include "rarpar/JobOptions.h"

#include <QAbstractItemModel>
#include <QHash>

#include <memory>
#include <vector>

namespace tessaly {

struct JobNode
{
    QString caption;
    QString key;
    int image = 3;
    JobNode *parent = nullptr;
    std::vector<std::unique_ptr<JobNode>> children;
};

// A node as the job file stores it.
struct FlatNode
{
    QString caption;
    QString key;
    int image = 0;
    QString parentKey;
};

enum JobImage { JobImageJob = 1, JobImageHeader = 2, JobImageValue = 3, JobImagePlaceholder = 4 };

// "K" and 20 upper-case hexadecimal digits from 10 random bytes.
QString NewNodeKey();

// Headers a job has only when they are set, after its extra files.
inline constexpr auto kObfuscateHeader = u"Obfuscate";
inline constexpr auto kPostNzbHeader = u"Post NZB";

class JobTree : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Roles { ImageRole = Qt::UserRole + 1 };

    explicit JobTree(QObject *parent = nullptr);
    ~JobTree() override;

    // All nodes of the tree, the placeholder included.
    int nodeCount() const { return nodeCount_; }
    // At least one job (more than the placeholder alone).
    bool hasJobs() const { return nodeCount_ >= 2; }
    int rootCount() const { return int(root_.children.size()); }
    const JobNode *rootAt(int row) const { return root_.children.at(size_t(row)).get(); }

    // Only the placeholder.
    void resetToPlaceholder();
    void clearAll();
    void addJob(const RarParJob &job);
    // Removes root row with everything under it; an empty tree gets the placeholder.
    void removeRoot(int row);
    // Moves root row from before position to (0..rootCount()).
    void moveRoot(int from, int to);

    // Adds one stored node: a root without parentKey, else the last child of
    // the node with that key. False, with why, for an unknown parent or a
    // key already in use; nothing is added then.
    bool addStoredNode(const FlatNode &node, QString *why);
    // Every node, parents before children, roots in list order.
    QVector<FlatNode> flatten() const;

    // The leaf captions of root row in order (what a job run reads).
    QStringList leafCaptions(int row) const;
    // The values under one header of root row ("Extra Files", kObfuscateHeader ...).
    QStringList valuesUnder(int row, const QString &header) const;
    // The placeholder's text after a change of language.
    void relabel();

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    JobNode *nodeOf(const QModelIndex &index) const;
    QModelIndex indexOf(const JobNode *node) const;
    JobNode *addChild(JobNode *parent, const QString &caption, const QString &key, int image);
    JobNode *findKey(const QString &key) const;

    JobNode root_;
    QHash<QString, JobNode *> keys_;
    int nodeCount_ = 0;
};

// The process-wide job list.
JobTree &jobTree();

} // namespace tessaly
