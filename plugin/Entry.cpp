#include "plugin/Entry.h"

#include <utility>

#include "QuillVersion.h"
#include "plugin/QuillmarUPSProvider.h"

// The module's version, in its .comment section: `strings` and
// `readelf -p .comment` show it without loading the module, and it adds no
// symbol and no code.
__asm__(".ident \"quillmarups " QUILL_VERSION "\"");

std::vector<std::shared_ptr<Provider>> get_providers()
{
    std::vector<std::shared_ptr<Provider>> providers;
    std::shared_ptr<Provider> provider = std::make_shared<QuillmarUPSProvider>();
    providers.push_back(std::move(provider));
    return providers;
}
