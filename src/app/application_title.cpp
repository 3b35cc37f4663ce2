#include "app/application_title.h"

#include "common/cp1252.h"

namespace vorlund {

std::string ApplicationTitle(std::string_view executablePath) {
    std::string_view name = executablePath;
    if (const auto slash = name.find_last_of("\\/"); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    name = name.substr(0, name.find('.'));
    std::string title(name);
    for (std::size_t i = 1; i < title.size(); ++i) {
        title[i] = LowerCp1252(title[i]);
    }
    return title;
}

}  // namespace vorlund
