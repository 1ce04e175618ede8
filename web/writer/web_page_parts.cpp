// The page's parts as this program was built with them: web/ and the
// module, made into bytes by web/embed.cmake.
#include "web_page.h"

#include "web_page_parts.h"

const WebPageParts& builtInPageParts()
{
    static const WebPageParts parts = [] {
        WebPageParts built;
        for (const WebPagePart& part : WEB_PAGE_PARTS)
            built.texts[part.name].assign(reinterpret_cast<const char*>(part.bytes), part.size);
        if (WEB_MODULE_SIZE > 0)
            built.module = deflatedBase64(WEB_MODULE_WASM, WEB_MODULE_SIZE);
        return built;
    }();
    return parts;
}
