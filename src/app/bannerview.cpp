#include "app/bannerview.h"

#include "app/htmlbannerview.h"

#ifdef VEXOR_WITH_WEBENGINE
#include "app/webbannerview.h"
#endif

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace vexor {

namespace {

BannerView* createSelectedView(QWidget* parent)
{
#ifdef VEXOR_WITH_WEBENGINE
    return new WebBannerView(parent);
#else
    return new HtmlBannerView(parent);
#endif
}

// The pane in the window: it remembers the page to show and builds the view
// that shows it when its window is first exposed, just before the window's
// first paint. A text view loads the fonts as it is made and lays its page
// out (images decoded) at once; none of that is needed to put the window on
// the screen, and the first frame still carries the banner.
class BannerPane : public QWidget, public BannerView {
public:
    explicit BannerPane(QWidget* parent) : QWidget(parent) {}

    QWidget* widget() override { return this; }
    void showPage(const QString& path) override
    {
        m_page = path;
        if (m_view)
            m_view->showPage(path);
    }
    QString currentPage() const override { return m_page; }

protected:
    void showEvent(QShowEvent* event) override
    {
        QWidget::showEvent(event);
        QWindow* window = this->window()->windowHandle();
        if (m_view || !window)
            return;
        if (window->isExposed()) {
            build();  // shown into a window that is on the screen already
        } else if (window != m_watched) {
            // A window made anew (new flags, another screen) is watched instead.
            if (m_watched)
                m_watched->removeEventFilter(this);
            window->installEventFilter(this);
            m_watched = window;
        }
    }
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        if (m_view)
            m_view->widget()->setGeometry(rect());
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_view && event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            m_watched = nullptr;
            build();
        }
        return QWidget::eventFilter(watched, event);
    }

private:
    void build()
    {
        m_view = createSelectedView(this);
        QWidget* view = m_view->widget();
        view->setGeometry(rect());
        view->setAccessibleName(accessibleName());
        view->show();
        if (!m_page.isEmpty())
            m_view->showPage(m_page);
    }

    BannerView* m_view = nullptr;  // a child widget: Qt owns it
    QString m_page;
    QPointer<QWindow> m_watched;
};

}  // namespace

BannerView* createBannerView(QWidget* parent)
{
    return new BannerPane(parent);
}

}  // namespace vexor
