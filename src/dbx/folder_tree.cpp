// Reading the folder list and hanging its folders into one tree.
#include "dbx/folder_tree.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <unordered_map>

namespace {

struct FreeItem {
    void operator()(DbxItem* item) const { dbx_free(item); }
};

DbxFolderRecord ToFolderRecord(const DbxListEntry& entry) {
    DbxFolderRecord record;
    record.id = entry.folder_id.value_or(0);
    record.parent_id = entry.parent_id.value_or(0);
    record.name = entry.tag02_text.value_or("");
    record.file_name = entry.tag03_text.value_or("");
    record.store_type = entry.store_type;
    record.special_folder = entry.special_folder;
    record.folder_flags = entry.folder_flags;
    record.message_count = entry.message_count;
    record.unread_count = entry.unread_count;
    return record;
}

// Gives every node a parent that leads to a root: missing parents and loops are cut, and the
// cut node hung under the top level, which itself always leads to a root.
class TreeBuilder {
public:
    explicit TreeBuilder(DbxFolderTree& tree) : tree_(tree) {}

    void Build() {
        FindTop();
        LinkParents();
        BreakLoops();
        LinkChildren();
        LimitDepth();
        for (int i = 0; i < Count(); ++i)
            if (tree_.nodes[Index(i)].parent == -1) tree_.roots.push_back(i);
    }

private:
    int Count() const { return static_cast<int>(tree_.nodes.size()); }
    static std::size_t Index(int i) { return static_cast<std::size_t>(i); }
    DbxFolderNode& Node(int i) { return tree_.nodes[Index(i)]; }

    void FindTop() {
        for (int i = 0; i < Count(); ++i) {
            if (Node(i).record.parent_id == kDbxNoParent) {
                tree_.top = i;
                break;
            }
        }
        for (int i = 0; i < Count(); ++i) {
            if (!by_id_.count(Node(i).record.id)) by_id_[Node(i).record.id] = i;
        }
        tree_.top_level = tree_.top;
        if (tree_.top < 0) return;
        const std::uint32_t top_id = Node(tree_.top).record.id;
        for (int i = 0; i < Count(); ++i) {
            const DbxFolderRecord& r = Node(i).record;
            if (i != tree_.top && r.parent_id == top_id && by_id_[top_id] == tree_.top &&
                r.store_type == static_cast<std::uint32_t>(DbxStoreType::Local)) {
                tree_.top_level = i;
                break;
            }
        }
    }

    void LinkParents() {
        for (int i = 0; i < Count(); ++i) {
            DbxFolderNode& node = Node(i);
            if (i == tree_.top) {
                node.parent = -1;
                node.placement = DbxPlacement::Top;
                continue;
            }
            const auto found = by_id_.find(node.record.parent_id);
            if (node.record.parent_id == kDbxNoParent || found == by_id_.end()) {
                MoveToTopLevel(i, DbxPlacement::ParentMissing);
            } else {
                node.parent = found->second;
            }
        }
    }

    // Follows each node's parents; a walk that meets its own path again has found a loop,
    // which is cut at its first node in the list's order.
    void BreakLoops() {
        enum : char { kUnseen, kOnPath, kDone };
        std::vector<char> state(Index(Count()), kUnseen);
        std::vector<int> path;
        for (int start = 0; start < Count(); ++start) {
            path.clear();
            int at = start;
            while (at != -1 && state[Index(at)] == kUnseen) {
                state[Index(at)] = kOnPath;
                path.push_back(at);
                at = Node(at).parent;
            }
            if (at != -1 && state[Index(at)] == kOnPath) {
                const auto loop_start = std::find(path.begin(), path.end(), at);
                const int cut = *std::min_element(loop_start, path.end());
                MoveToTopLevel(cut, DbxPlacement::ParentLoop);
            }
            for (int i : path) state[Index(i)] = kDone;
        }
    }

    void MoveToTopLevel(int i, DbxPlacement why) {
        Node(i).parent = tree_.top_level == i ? -1 : tree_.top_level;
        Node(i).placement = why;
    }

    void LinkChildren() {
        for (int i = 0; i < Count(); ++i) {
            if (Node(i).parent >= 0) Node(Node(i).parent).children.push_back(i);
        }
    }

    // Top down from the roots; a node past the depth limit moves, with its sub-tree, to the
    // top level, whose depth is at most one.
    void LimitDepth() {
        // Depth counts the folders of a chain: the top folder, which no chain holds, is 0.
        std::vector<int> depth(Index(Count()), 0);
        std::deque<int> queue;
        for (int i = 0; i < Count(); ++i) {
            if (Node(i).parent != -1) continue;
            depth[Index(i)] = i == tree_.top ? 0 : 1;
            queue.push_back(i);
        }
        while (!queue.empty()) {
            const int at = queue.front();
            queue.pop_front();
            std::vector<int>& children = Node(at).children;
            for (std::size_t c = 0; c < children.size();) {
                const int child = children[c];
                if (depth[Index(at)] + 1 > kDbxMaxFolderDepth && tree_.top_level != at) {
                    children.erase(children.begin() + static_cast<std::ptrdiff_t>(c));
                    MoveToTopLevel(child, DbxPlacement::TooDeep);
                    const int parent = Node(child).parent;
                    depth[Index(child)] = parent == -1 ? 1 : depth[Index(parent)] + 1;
                    if (parent >= 0) Node(parent).children.push_back(child);
                    queue.push_back(child);
                    continue;
                }
                depth[Index(child)] = depth[Index(at)] + 1;
                queue.push_back(child);
                ++c;
            }
        }
    }

    DbxFolderTree& tree_;
    std::unordered_map<std::uint32_t, int> by_id_;  // the first node of each id
};

}  // namespace

bool dbx_read_folder_list(DbxReader* reader, std::vector<DbxFolderRecord>& records) {
    records.clear();
    if (reader == nullptr || reader->kind != DbxKind::List) return false;
    std::vector<DbxFolderRecord> read;
    read.reserve(static_cast<std::size_t>(std::max(reader->item_count, 0)));
    for (std::int32_t slot = reader->item_count - 1; slot >= 0; --slot) {
        std::unique_ptr<DbxItem, FreeItem> item(dbx_get(reader, slot));
        if (item == nullptr) return false;
        read.push_back(ToFolderRecord(static_cast<const DbxListEntry&>(*item)));
    }
    records = std::move(read);
    return true;
}

DbxFolderTree dbx_build_folder_tree(std::vector<DbxFolderRecord> records) {
    DbxFolderTree tree;
    tree.nodes.reserve(records.size());
    for (auto& record : records) {
        DbxFolderNode node;
        node.record = std::move(record);
        tree.nodes.push_back(std::move(node));
    }
    TreeBuilder(tree).Build();
    return tree;
}

std::vector<int> dbx_folder_chain(const DbxFolderTree& tree, int node) {
    std::vector<int> chain;
    const int count = static_cast<int>(tree.nodes.size());
    while (node >= 0 && node < count && node != tree.top && static_cast<int>(chain.size()) < count) {
        chain.push_back(node);
        node = tree.nodes[static_cast<std::size_t>(node)].parent;
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}
