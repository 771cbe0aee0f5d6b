#pragma once

#include "content.h"
#include "store.h"

#include <string>

namespace vexor::server {

struct ImportResult {
    std::string error; // empty on success, else one line naming the file
    int banners = 0;
    int lineups = 0;
    int languageFiles = 0;
};

// Loads a content folder into a store that holds no banners and no line-ups
// yet: lang.ini and modl.ini as they are (line ends made CR LF), every file
// of languages/, version.txt, web/update.htm and web/faq.htm, every banner
// with both banners/<id>.gif and <id>.htm (named by the page's <title>, its
// link targets taken from the page's /click links), and the line-ups in
// number order as standing line-ups "1.txt", "2.txt", ... Stops at the first
// problem: a line-up that does not parse or names a banner without both files.
ImportResult importContent(const ContentStore& content, Store& store);

} // namespace vexor::server
