#include "app/bannerview.h"

#include "app/htmlbannerview.h"

#ifdef VEXOR_WITH_WEBENGINE
#include "app/webbannerview.h"
#endif

namespace vexor {

BannerView* createBannerView(QWidget* parent)
{
#ifdef VEXOR_WITH_WEBENGINE
    return new WebBannerView(parent);
#else
    return new HtmlBannerView(parent);
#endif
}

}  // namespace vexor
