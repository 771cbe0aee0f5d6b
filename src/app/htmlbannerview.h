#pragma once

#include "app/bannerview.h"

#include <QHash>
#include <QUrl>
#include <QWidget>

class QMovie;
class QTextDocument;

// The light banner view: a widget that paints one HTML page at its own size,
// without frame, scroll bars or text cursor.
//  - The page and everything it refers to (images, style sheets) are read
//    only from local files inside the page's own folder; any other address
//    (http:, a path outside the folder, a link through "..") loads nothing.
//  - Animated images (GIF) play: one QMovie per image, each frame handed to
//    the document as the image's resource.
//  - A click on a link opens it in the user's browser (platform::openUrl) for
//    http, https, ftp and mailto addresses; other links do nothing. The
//    pointer turns into a hand over a link, and a title shows as a tool tip.
//  - A missing, unreadable or oversized page shows a plain page of its own.
// It paints the document itself rather than through a QTextBrowser: a banner
// needs neither scrolling nor editing, and the browser's scroll area, text
// control and scroll bars cost the resident client about 300 kB for nothing.
namespace vexor {

class HtmlBannerView : public QWidget, public BannerView {
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

    // The page as laid out; its resources are those the view resolved.
    QTextDocument* document() const { return m_document; }
    // True while the plain page for a page that could not be read is shown.
    bool showsPlaceholder() const { return m_placeholder; }
    // Animated images of the current page that are playing.
    int runningAnimations() const;

    // The document asks its parent for every image and style sheet it refers
    // to, through the meta-object, and keeps what it gets.
    Q_INVOKABLE QVariant loadResource(int type, const QUrl& name);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // The canonical local path of `url` when it names an existing file inside
    // the page's folder; empty otherwise.
    QString localFileInPageFolder(const QUrl& url) const;
    QVariant loadImage(const QString& path, const QUrl& name);
    static QVariant noImage();
    void stopAnimations();
    void setHtml(const QString& html);
    void showPlaceholder();
    QString anchorAt(const QPoint& pos) const;
    void openLink(const QString& href);

    QTextDocument* m_document;  // a child object: Qt owns it
    QString m_pagePath;
    QString m_pageFolder;  // canonical, no trailing "/"
    QString m_pressedAnchor;
    bool m_placeholder = false;
    QHash<QUrl, QMovie*> m_movies;
};

}  // namespace vexor
