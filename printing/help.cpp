#include "printing/help.h"

#include "printing/logging.h"

#include <QDesktopServices>

namespace help {

namespace {
UrlOpener& opener()
{
    static UrlOpener o;
    return o;
}
} // namespace

void open(const QUrl& url)
{
    if (opener()) {
        opener()(url);
        return;
    }
    if (!QDesktopServices::openUrl(url))
        qCInfo(lcPrinting) << "no viewer opened" << url;
}

void setUrlOpener(UrlOpener o)
{
    opener() = std::move(o);
}

} // namespace help
