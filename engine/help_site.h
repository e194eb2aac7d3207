// The help site: the base address that every help link and the session
// error box put in front of their page paths. The program ships its help
// pages and points the base at them with a file URL when it starts; until
// then the base is empty and an address is its bare path.
#pragma once

#include <string>
#include <vector>

namespace tavrin::engine {

// The page paths (with their anchors) that the program links to.
inline constexpr const char* kHelpMain = "/msg-to-pst/";
inline constexpr const char* kHelpSingleFolder = "/h/msg-to-pst/#single-folder";
inline constexpr const char* kHelpMultipleFolders = "/h/msg-to-pst/#multiple-folders";
inline constexpr const char* kHelpSelectFolder = "/h/msg-to-pst/#select-folder";
inline constexpr const char* kHelpSelectRootFolder = "/h/msg-to-pst/#select-root-folder";
inline constexpr const char* kHelpSessionError = "/help/downgrade-office-2010-to-32-bit.pdf";

// Every path above, for checks that each one resolves to a shipped page.
std::vector<std::string> HelpPaths();

// The base address, without a trailing "/" (for example
// "file:///usr/share/tavrin-msg-to-pst/help").
const std::string& HelpSite();
void SetHelpSite(std::string base);

// The full address of a help path. With a "file:" base a folder address
// ("/msg-to-pst/", "/h/msg-to-pst/#anchor") names the folder's index page,
// since a browser shows a bare local folder as a file listing.
std::string HelpAddress(const std::string& path);

// The file, relative to the help folder, that a help path names, and the
// anchor after "#" (empty when there is none): "/h/msg-to-pst/#x" gives
// "h/msg-to-pst/index.html" and "x".
struct HelpTarget {
    std::string file;
    std::string anchor;
};
HelpTarget ResolveHelpPath(const std::string& path);

}  // namespace tavrin::engine
