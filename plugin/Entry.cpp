#include "plugin/Entry.h"

#include <utility>

#include "plugin/QuillmarUPSProvider.h"

std::vector<std::shared_ptr<Provider>> get_providers()
{
    std::vector<std::shared_ptr<Provider>> providers;
    std::shared_ptr<Provider> provider = std::make_shared<QuillmarUPSProvider>();
    providers.push_back(std::move(provider));
    return providers;
}
