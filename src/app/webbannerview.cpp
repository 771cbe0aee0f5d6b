#include "app/webbannerview.h"

#include "platform/shellopen.h"

#include <QFileInfo>
#include <QMutex>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

namespace vexor {

namespace {

const char PlaceholderHtml[] =
    "<html><body style=\"margin:0;background-color:#ffffff\">"
    "<table width=\"100%\" height=\"100%\"><tr><td align=\"center\" valign=\"middle\">"
    "<span style=\"color:#a0a0a0\">Vexor</span></td></tr></table></body></html>";

bool isExternalLink(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QStringLiteral("http") || scheme == QStringLiteral("https")
        || scheme == QStringLiteral("ftp") || scheme == QStringLiteral("mailto");
}

void openExternally(const QUrl& url)
{
    if (isExternalLink(url))
        platform::openUrl(url.toString(QUrl::FullyEncoded).toStdString());
}

// A page that only catches the address of a link that asked for a new window.
class LinkCatcherPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        openExternally(url);
        deleteLater();
        return false;
    }
};

class BannerPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        // A click leaves the banner in place and goes to the user's browser.
        if (type == NavigationTypeLinkClicked && isMainFrame) {
            openExternally(url);
            return false;
        }
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }
    QWebEnginePage* createWindow(WebWindowType) override { return new LinkCatcherPage(profile(), this); }
};

}  // namespace

// Runs on the engine's IO thread: the folder is guarded.
class BannerRequestFilter : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void setFolder(const QString& canonicalFolder)
    {
        QMutexLocker lock(&m_mutex);
        m_folder = canonicalFolder;
    }

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const QUrl url = info.requestUrl();
        if (url.scheme() == QStringLiteral("data"))
            return;
        if (url.isLocalFile()) {
            const QString canonical = QFileInfo(url.toLocalFile()).canonicalFilePath();
            QMutexLocker lock(&m_mutex);
            if (!m_folder.isEmpty() && canonical.startsWith(m_folder + QLatin1Char('/')))
                return;
        }
        info.block(true);
    }

private:
    QMutex m_mutex;
    QString m_folder;
};

WebBannerView::WebBannerView(QWidget* parent)
    : QWebEngineView(parent)
    , m_profile(new QWebEngineProfile(this))  // no storage name: off the record
    , m_filter(new BannerRequestFilter(m_profile))
{
    m_profile->setUrlRequestInterceptor(m_filter);
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    auto* page = new BannerPage(m_profile, this);
    QWebEngineSettings* settings = page->settings();
    settings->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    setPage(page);
    setContextMenuPolicy(Qt::NoContextMenu);
}

WebBannerView::~WebBannerView()
{
    // The page must go before its profile (a child of this view, like the
    // page), which takes the filter with it.
    delete page();
}

void WebBannerView::showPage(const QString& path)
{
    m_pagePath = path;
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        m_filter->setFolder(QString());
        setHtml(QString::fromLatin1(PlaceholderHtml));
        return;
    }
    m_filter->setFolder(info.canonicalPath());
    load(QUrl::fromLocalFile(info.canonicalFilePath()));
}

}  // namespace vexor
