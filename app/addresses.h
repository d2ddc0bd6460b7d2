// The program's addresses on the web and for mail, kept in one place.
#pragma once

namespace salvora {

inline constexpr const char *productAddress = "https://salvora.example/";
// How the About box names the product page.
inline constexpr const char *productSiteName = "salvora.example";
inline constexpr const char *uninstallAddress = "https://salvora.example/uninstall";
inline constexpr const char *supportMailAddress = "support@salvora.example";

} // namespace salvora
