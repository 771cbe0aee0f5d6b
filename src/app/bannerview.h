#pragma once

#include <QString>

class QWidget;

// The banner pane of the main window: shows one local HTML page, named by its
// path, at a time. Two implementations exist: a light HTML view (the default)
// and, when the build enables VEXOR_WEBENGINE, a full web engine view for
// banners that need scripts. GUI thread only.
namespace vexor {

class BannerView {
public:
    virtual ~BannerView() = default;

    // The widget to place in the window; owned by its Qt parent.
    virtual QWidget* widget() = 0;

    // Shows the page at `path` (a local file). A missing or unreadable page
    // shows a plain page of the view's own; never throws for what the file
    // holds. Nothing is ever loaded from the network.
    virtual void showPage(const QString& path) = 0;

    // The path last given to showPage (empty before the first call).
    virtual QString currentPage() const = 0;
};

// Creates the banner pane as a child of `parent` (which owns the widget and so
// the view). The pane takes pages at once; the view selected by the build is
// made inside it when the window is first exposed, just before its first
// paint, and shows the last page given.
BannerView* createBannerView(QWidget* parent);

}  // namespace vexor
