#include "app/htmlbannerview.h"

#include "platform/shellopen.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QHelpEvent>
#include <QImageReader>
#include <QMouseEvent>
#include <QMovie>
#include <QPainter>
#include <QStringDecoder>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolTip>

#include <utility>

namespace vexor {

namespace {

// Shown when a banner page cannot be read: the pane stays calm and plain.
const char PlaceholderHtml[] =
    "<html><body style=\"background-color:#ffffff\">"
    "<table width=\"100%\" height=\"100%\"><tr><td align=\"center\" valign=\"middle\">"
    "<span style=\"color:#a0a0a0\">Vexor</span></td></tr></table></body></html>";

// Reads at most `limit` bytes; nullopt-like empty result with ok=false when the
// file is missing, unreadable or larger than the limit.
bool readLimited(const QString& path, qint64 limit, QByteArray& data)
{
    QFile file(path);
    const qint64 size = file.open(QIODevice::ReadOnly) ? file.size() : -1;
    if (size < 0 || size > limit)
        return false;
    // read() sets aside as much as it is asked for: the file's size (and one
    // byte to see it grow), not the limit, which is megabytes.
    data = file.read(size + 1);
    return data.size() <= limit;
}

QString decodeHtml(const QByteArray& data)
{
    // A charset named by the page (or its byte-order mark) wins; without one,
    // text that is valid UTF-8 is taken as such and anything else as Latin-1,
    // the code page most old banner pages were written in.
    QStringDecoder byPage = QStringDecoder::decoderForHtml(data);
    if (byPage.isValid()) {
        QString text = byPage.decode(data);
        if (!byPage.hasError())
            return text;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(data);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(data);
}

bool isExternalLink(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QStringLiteral("http") || scheme == QStringLiteral("https")
        || scheme == QStringLiteral("ftp") || scheme == QStringLiteral("mailto");
}

}  // namespace

HtmlBannerView::HtmlBannerView(QWidget* parent)
    : QWidget(parent)
    , m_document(new QTextDocument(this))
{
    // Under the page lies the palette's base colour, as under a text view.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);  // the hand over links
    m_document->setUndoRedoEnabled(false);
    m_document->setDocumentMargin(0);
    m_document->setDefaultFont(font());
    m_document->setTextWidth(width());
    // With its layout in place the document lays a page out as it is set, so
    // that images load and animations start then, not at the next paint.
    // Fonts are measured for this widget's screen.
    m_document->documentLayout()->setPaintDevice(this);
}

HtmlBannerView::~HtmlBannerView()
{
    stopAnimations();
}

void HtmlBannerView::showPage(const QString& path)
{
    stopAnimations();
    m_pagePath = path;
    const QFileInfo info(path);
    QByteArray data;
    if (!info.isFile() || !readLimited(info.absoluteFilePath(), MaxPageBytes, data)) {
        showPlaceholder();
        return;
    }
    m_placeholder = false;
    m_pageFolder = info.canonicalPath();
    // The base address must be set before the text: layout asks for the
    // images at once, relative to it.
    m_document->clear();
    m_document->setBaseUrl(QUrl::fromLocalFile(m_pageFolder + QLatin1Char('/')));
    setHtml(decodeHtml(data));
}

void HtmlBannerView::setHtml(const QString& html)
{
    m_pressedAnchor.clear();
    m_document->setHtml(html);
    unsetCursor();
    update();
}

void HtmlBannerView::showPlaceholder()
{
    m_placeholder = true;
    m_pageFolder.clear();
    m_document->clear();
    m_document->setBaseUrl(QUrl());
    setHtml(QString::fromLatin1(PlaceholderHtml));
}

int HtmlBannerView::runningAnimations() const
{
    int running = 0;
    for (const QMovie* movie : m_movies)
        running += movie->state() == QMovie::Running ? 1 : 0;
    return running;
}

QString HtmlBannerView::localFileInPageFolder(const QUrl& url) const
{
    if (m_pageFolder.isEmpty() || !url.isLocalFile())
        return {};
    const QFileInfo info(url.toLocalFile());
    const QString canonical = info.canonicalFilePath();  // empty when missing
    if (canonical.isEmpty() || !info.isFile())
        return {};
    // canonicalFilePath has resolved "..", symbolic links included, so a
    // prefix test is enough to keep reads inside the folder.
    if (!canonical.startsWith(m_pageFolder + QLatin1Char('/')))
        return {};
    return canonical;
}

QVariant HtmlBannerView::loadResource(int type, const QUrl& name)
{
    // Every answer here must be a valid QVariant, even for what is refused:
    // on an invalid one QTextDocument reads the local file itself, whatever
    // folder it lies in. "data:" addresses are the exception, the document
    // decodes them without touching any file.
    const QUrl url = m_document->baseUrl().resolved(name);
    if (url.scheme().compare(QStringLiteral("data"), Qt::CaseInsensitive) == 0)
        return {};
    const QString path = localFileInPageFolder(url);
    if (type == QTextDocument::ImageResource)
        return path.isEmpty() ? noImage() : loadImage(path, url);
    QByteArray data;
    if (type == QTextDocument::StyleSheetResource)
        return !path.isEmpty() && readLimited(path, MaxPageBytes, data) ? decodeHtml(data) : QString();
    return QByteArray();
}

QVariant HtmlBannerView::noImage()
{
    // A transparent pixel instead of Qt's broken-image icon.
    QImage pixel(1, 1, QImage::Format_ARGB32);
    pixel.fill(Qt::transparent);
    return pixel;
}

QVariant HtmlBannerView::loadImage(const QString& path, const QUrl& name)
{
    if (QFileInfo(path).size() > MaxImageBytes)
        return noImage();
    if (QMovie* playing = m_movies.value(name))
        return playing->currentPixmap();

    QImageReader reader(path);
    if (reader.supportsAnimation() && reader.imageCount() != 1) {
        auto* movie = new QMovie(path, QByteArray(), this);
        if (movie->isValid()) {
            m_movies.insert(name, movie);
            connect(movie, &QMovie::frameChanged, this, [this, movie, name](int) {
                // The document looks its images up on every paint, so a new
                // resource and a repaint show the next frame.
                m_document->addResource(QTextDocument::ImageResource, name, movie->currentPixmap());
                update();
            });
            movie->start();  // reads the first frame at once
            return movie->currentPixmap();
        }
        delete movie;
        reader.setFileName(path);
    }
    const QImage image = reader.read();
    return image.isNull() ? noImage() : QVariant(image);
}

void HtmlBannerView::stopAnimations()
{
    for (QMovie* movie : std::as_const(m_movies)) {
        movie->stop();
        movie->disconnect(this);
        movie->deleteLater();
    }
    m_movies.clear();
}

bool HtmlBannerView::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::FontChange:
        m_document->setDefaultFont(font());
        break;
    case QEvent::ToolTip: {
        // The title of what lies under the pointer, as a text view shows it.
        auto* help = static_cast<QHelpEvent*>(event);
        const int position = m_document->documentLayout()->hitTest(help->pos(), Qt::FuzzyHit);
        QString tip;
        if (position >= 0) {
            QTextCursor cursor(m_document);
            cursor.setPosition(position);
            tip = cursor.charFormat().toolTip();
        }
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    default:
        break;
    }
    return QWidget::event(event);
}

void HtmlBannerView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    // The page's background (body colour or image) fills the clip, so the
    // whole pane below a short page too.
    context.clip = event->rect();
    m_document->documentLayout()->draw(&painter, context);
}

void HtmlBannerView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_document->setTextWidth(width());
}

QString HtmlBannerView::anchorAt(const QPoint& pos) const
{
    return m_document->documentLayout()->anchorAt(pos);
}

void HtmlBannerView::mousePressEvent(QMouseEvent* event)
{
    m_pressedAnchor = event->button() == Qt::LeftButton ? anchorAt(event->position().toPoint()) : QString();
}

void HtmlBannerView::mouseReleaseEvent(QMouseEvent* event)
{
    // A click is a press and a release on the same link.
    const QString pressed = std::exchange(m_pressedAnchor, QString());
    if (event->button() == Qt::LeftButton && !pressed.isEmpty()
        && anchorAt(event->position().toPoint()) == pressed)
        openLink(pressed);
}

void HtmlBannerView::mouseMoveEvent(QMouseEvent* event)
{
    if (anchorAt(event->position().toPoint()).isEmpty())
        unsetCursor();
    else
        setCursor(Qt::PointingHandCursor);
}

void HtmlBannerView::openLink(const QString& href)
{
    // The links of a banner lead to the advertiser's pages: they open in the
    // user's browser. Local links would only replace the banner, so they are
    // left alone, and so is any scheme a browser could not show.
    const QUrl url(href);
    if (isExternalLink(url))
        platform::openUrl(url.toString(QUrl::FullyEncoded).toStdString());
}

}  // namespace vexor
