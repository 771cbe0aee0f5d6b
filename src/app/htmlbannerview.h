#pragma once

#include "app/bannerview.h"

#include <QHash>
#include <QTextBrowser>
#include <QUrl>

class QMovie;

// The light banner view: a frameless QTextBrowser without scroll bars.
//  - The page and everything it refers to (images, style sheets) are read
//    only from local files inside the page's own folder; any other address
//    (http:, a path outside the folder, a link through "..") loads nothing.
//  - Animated images (GIF) play: one QMovie per image, each frame handed to
//    the document as the image's resource.
//  - A click on a link opens it in the user's browser (platform::openUrl) for
//    http, https, ftp and mailto addresses; other links do nothing.
//  - A missing, unreadable or oversized page shows a plain page of its own.
namespace vexor {

class HtmlBannerView : public QTextBrowser, public BannerView {
    Q_OBJECT
public:
    // Pages and images above these sizes are not loaded (bytes).
    static constexpr qint64 MaxPageBytes = 4 * 1024 * 1024;
    static constexpr qint64 MaxImageBytes = 16 * 1024 * 1024;

    explicit HtmlBannerView(QWidget* parent = nullptr);
    ~HtmlBannerView() override;

    QWidget* widget() override { return this; }
    void showPage(const QString& path) override;
    QString currentPage() const override { return m_pagePath; }

    // True while the plain page for a page that could not be read is shown.
    bool showsPlaceholder() const { return m_placeholder; }
    // Animated images of the current page that are playing.
    int runningAnimations() const;

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    // The canonical local path of `url` when it names an existing file inside
    // the page's folder; empty otherwise.
    QString localFileInPageFolder(const QUrl& url) const;
    QVariant loadImage(const QString& path, const QUrl& name);
    static QVariant noImage();
    void stopAnimations();
    void showPlaceholder();
    void openLink(const QUrl& url);

    QString m_pagePath;
    QString m_pageFolder;  // canonical, no trailing "/"
    bool m_placeholder = false;
    QHash<QUrl, QMovie*> m_movies;
};

}  // namespace vexor
