// The store's folders: loaded on first use, kept in memory while the store is open, written
// when it is flushed.
#include <optional>

#include "store/pst/messaging/store_internals.h"

namespace pst::messaging {

PropMap Store::FolderHierarchyRow(const Folder& f) const {
    PropMap row;
    for (auto t : kHierarchyColumns) {
        auto it = f.props.find(t);
        if (it != f.props.end()) row[t] = it->second;
    }
    return row;
}

Store::Folder& Store::LoadFolder(std::uint32_t folder_nid) {
    auto it = folders_.find(folder_nid);
    if (it != folders_.end()) return *it->second;
    if (ndb::NidType(folder_nid) != ndb::kNidTypeNormalFolder) throw PstError("not a folder");
    auto node = db_->FindNode(folder_nid);
    if (!node) throw PstError("folder not found");
    auto f = std::make_unique<Folder>();
    f->nid = folder_nid;
    f->parent = node->nid_parent;
    ltp::NodeReader pc(*db_, node->bid_data, node->bid_sub);
    f->props = ltp::ReadPropertyContext(pc);
    auto hier = db_->FindNode(ndb::MakeNid(ndb::kNidTypeHierarchyTable, ndb::NidIndex(folder_nid)));
    if (!hier) throw PstError("folder without a hierarchy table");
    ltp::NodeReader tc(*db_, hier->bid_data, hier->bid_sub);
    f->hierarchy = ltp::ReadTableContext(tc).rows;
    auto& ref = *f;
    folders_[folder_nid] = std::move(f);
    return ref;
}

void Store::LoadContents(Folder& f) {
    if (f.contents_loaded) return;
    auto node = db_->FindNode(ndb::MakeNid(ndb::kNidTypeContentsTable, ndb::NidIndex(f.nid)));
    if (!node) throw PstError("folder without a contents table");
    ltp::NodeReader tc(*db_, node->bid_data, node->bid_sub);
    ltp::ForEachTableRow(tc, [&](ltp::TableRow&& row) { AppendContentsRow(f, row.row_id, ltp::PackValues(row.values)); });
    f.contents_loaded = true;
}

std::vector<FolderInfo> Store::Subfolders(std::uint32_t folder) {
    auto& f = LoadFolder(folder);
    std::vector<FolderInfo> out;
    for (const auto& row : f.hierarchy) {
        FolderInfo info;
        info.nid = row.row_id;
        info.name = GetString(row.values, mapi::PR_DISPLAY_NAME_W);
        info.content_count = static_cast<std::int32_t>(GetInt32(row.values, tag::kContentCount));
        auto sub = row.values.find(tag::kSubfolders);
        info.has_subfolders = sub != row.values.end() && !sub->second.empty() && sub->second[0] != 0;
        out.push_back(std::move(info));
    }
    return out;
}

FolderInfo Store::GetFolder(std::uint32_t folder) {
    auto& f = LoadFolder(folder);
    FolderInfo info;
    info.nid = folder;
    info.name = GetString(f.props, mapi::PR_DISPLAY_NAME_W);
    info.content_count = static_cast<std::int32_t>(GetInt32(f.props, tag::kContentCount));
    auto sub = f.props.find(tag::kSubfolders);
    info.has_subfolders = sub != f.props.end() && !sub->second.empty() && sub->second[0] != 0;
    return info;
}

std::optional<std::uint32_t> Store::FindSubfolder(std::uint32_t parent, const std::string& name) {
    for (const auto& s : Subfolders(parent))
        if (s.name == name && ndb::NidType(s.nid) == ndb::kNidTypeNormalFolder) return s.nid;
    return std::nullopt;
}

std::optional<std::uint32_t> Store::FindFolderByPath(const std::string& path) {
    std::uint32_t current = ipm_subtree_;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (!part.empty()) {
            auto next = FindSubfolder(current, part);
            if (!next) return std::nullopt;
            current = *next;
        }
        start = end + 1;
    }
    return current;
}

std::uint32_t Store::AddFolder(std::uint32_t parent_nid, const std::string& name, const std::string& container_class) {
    if (!db_->writable()) throw PstError("store opened read-only");
    auto& parent = LoadFolder(parent_nid);
    const std::uint32_t folder_nid = db_->NewNid(ndb::kNidTypeNormalFolder);
    auto f = std::make_unique<Folder>();
    f->nid = folder_nid;
    f->parent = parent_nid;
    f->props[mapi::PR_DISPLAY_NAME_W] = StringBytes(name);
    f->props[tag::kContentCount] = Int32Bytes(0);
    f->props[tag::kContentUnreadCount] = Int32Bytes(0);
    f->props[tag::kSubfolders] = BoolBytes(false);
    if (!container_class.empty()) f->props[tag::kContainerClass] = StringBytes(container_class);
    f->contents_loaded = true;
    f->props_dirty = f->hierarchy_dirty = f->contents_dirty = f->is_new = true;
    parent.hierarchy.push_back({folder_nid, FolderHierarchyRow(*f)});
    parent.hierarchy_dirty = true;
    if (parent.props[tag::kSubfolders] != BoolBytes(true)) {
        parent.props[tag::kSubfolders] = BoolBytes(true);
        parent.props_dirty = true;
        if (parent.parent != parent.nid) {
            auto& grand = LoadFolder(parent.parent);
            for (auto& row : grand.hierarchy)
                if (row.row_id == parent.nid) row.values = FolderHierarchyRow(parent);
            grand.hierarchy_dirty = true;
        }
    }
    folders_[folder_nid] = std::move(f);
    return folder_nid;
}

void Store::WriteFolder(Folder& f) {
    std::uint32_t counter = 0x400;
    auto next = [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); };
    const std::uint32_t index = ndb::NidIndex(f.nid);
    if (f.props_dirty) WriteNode(f.nid, ltp::BuildPropertyContext(f.props, next), f.parent);
    if (f.hierarchy_dirty) WriteTable(ndb::MakeNid(ndb::kNidTypeHierarchyTable, index), kHierarchyColumns, f.hierarchy);
    if (f.contents_dirty) {
        counter = 0x400;
        auto built = ltp::BuildTableContext(
            kContentsColumns, f.contents.count,
            [&, cursor = ContentsCursor(Spool(), f.contents)](std::size_t) mutable { return cursor.Next(); },
            next, db_.get());
        WriteNode(ndb::MakeNid(ndb::kNidTypeContentsTable, index), built, 0);
    }
    if (f.is_new) WriteTable(ndb::MakeNid(ndb::kNidTypeAssocContentsTable, index), kAssocContentsColumns, {});
    f.props_dirty = f.hierarchy_dirty = f.contents_dirty = f.is_new = false;
}

}  // namespace pst::messaging
