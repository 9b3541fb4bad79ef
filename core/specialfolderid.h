#pragma once

// The fixed folders of an article's life; user folders have the positive ids of table
// `folders`. An article's folder is `articles.Folder`, the one it came from `FolderOld`.
namespace SpecialFolderId {
enum : int {
    Root = 0,
    Active = -9, // "Aktive Angebote"
    Sold = -7, // "Verkauft"
    Unsold = -8, // "Nicht verkauft"
    Scheduled = -3, // "Geplante Angebote"
    Outbox = -2, // "Artikelausgang"
    Trash = -5, // "Papierkorb"
    Drafts = -10, // "Artikelvorlagen", parent of the user's folders
    Templates = -100, // saved templates, not shown in the tree
};
} // namespace SpecialFolderId
