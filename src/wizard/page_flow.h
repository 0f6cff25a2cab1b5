// The wizard's pages and how Next moves between them; no window involved.
#pragma once

#include <cstdint>

namespace cabsetup {

enum WizardPage : int { kPageWelcome = 0, kPageLicense = 1, kPageFolder = 2, kPageCopying = 3, kPageFinish = 4 };
constexpr int kPageCount = 5;

// The page Next leads to from `page` (not the finish page, which closes).
int NextPage(int page, std::int32_t setupKind, bool unattended);

// String id of the heading painted on `page`; 0 when the page has none.
unsigned PageHeadingId(int page, std::int32_t setupKind);
// String id of the page description (control 1016) set when `page` is
// entered; 0 when it keeps its text.
unsigned PageDescriptionId(int page);

}  // namespace cabsetup
