#include "auth.h"
#include "forms.h"
#include "page.h"

// The banners: the list with previews, upload, name and link targets, retire.
namespace vexor::server::console {

namespace {

// Only the banner's own image and styles, no script, no forms, no plugins;
// the frame that shows it adds its own sandbox too.
constexpr const char* PreviewPolicy =
    "default-src 'none'; img-src 'self'; style-src 'self' 'unsafe-inline'; frame-ancestors 'self'; sandbox";

// The messages of one form: the upload's, or the edit of one banner's.
struct FormState {
    std::string bannerId {}; // the banner whose edit form they belong to; empty: upload
    std::string name {}, targets {};
    std::string nameError {}, targetsError {}, imageError {}, pageError {}, message {};
};

std::string joinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

Html bannerCard(const Page& page, const BannerInfo& banner, const FormState& form)
{
    const bool editing = form.bannerId == banner.id;
    const std::string key = "b" + banner.id;
    return templateNamed("banners.card").render({ { "id", banner.id }, { "key", key },
        { "name", editing ? form.name : banner.name }, { "created", utcMinuteText(banner.created) },
        { "type", banner.imageType }, { "imageBytes", std::int64_t(banner.imageBytes) },
        { "pageBytes", std::int64_t(banner.pageBytes) },
        { "targets", editing ? form.targets : joinLines(banner.linkTargets) },
        { "state", banner.retired ? "retired" : "active" }, { "retiredClass", banner.retired ? "retired" : "" },
        { "retireValue", banner.retired ? "0" : "1" }, { "retireCaption", banner.retired ? "Unretire" : "Retire" },
        { "nameError", fieldError(key + "-name", editing ? form.nameError : "") },
        { "targetsError", fieldError(key + "-targets", editing ? form.targetsError : "") },
        { "csrf", csrfField(page) } });
}

void showBanners(Page& page, const FormState& form, int status = 200)
{
    const auto banners = page.store.banners();
    Html cards;
    for (const auto& banner : banners)
        cards += bannerCard(page, banner, form);
    const bool upload = form.bannerId.empty();
    const auto body = templateNamed("banners").render({ { "csrf", csrfField(page) },
        { "name", upload ? form.name : "" }, { "targets", upload ? form.targets : "" },
        { "message", form.message }, { "messageClass", form.message.empty() ? "hidden" : "notice error" },
        { "nameError", fieldError("name", upload ? form.nameError : "") },
        { "targetsError", fieldError("targets", upload ? form.targetsError : "") },
        { "imageError", fieldError("image", form.imageError) }, { "pageError", fieldError("page", form.pageError) },
        { "count", std::int64_t(banners.size()) }, { "cards", cards } });
    page.show("Banners", "banners", body, status);
}

std::string newBannerId(Store& store)
{
    static constexpr char Alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    while (true) {
        const auto random = randomToken();
        std::string id;
        for (int i = 0; i < 6; ++i)
            id += Alphabet[std::stoi(random.substr(std::size_t(i) * 2, 2), nullptr, 16) % 32];
        if (!store.banner(id))
            return id;
    }
}

// The vendor's page names the image by the name it was uploaded with; the
// client keeps it as "<id>.gif" beside the page. "{id}" stands for the id,
// for links through /click.
std::string pageForClient(std::string page, const std::string& uploadName, const std::string& id)
{
    const auto replace = [&page](const std::string& from, const std::string& to) {
        if (from.empty())
            return;
        for (auto at = page.find(from); at != std::string::npos; at = page.find(from, at + to.size()))
            page.replace(at, from.size(), to);
    };
    replace(uploadName.substr(uploadName.find_last_of("/\\") + 1), id + ".gif");
    replace("{id}", id);
    return page;
}

void upload(Page& page)
{
    FormState form { .name = page.field("name"), .targets = page.field("targets") };
    const auto name = checkBannerName(form.name);
    const auto targets = checkLinkTargets(form.targets);
    const auto* imageFile = page.upload("image");
    const auto* pageFile = page.upload("page");
    const auto image = checkBannerImage(imageFile ? std::string_view(imageFile->content) : "");
    const auto html = checkBannerPage(pageFile ? std::string_view(pageFile->content) : "");
    form.nameError = name.error;
    form.targetsError = targets.error;
    form.imageError = image.error;
    form.pageError = html.error;
    if (!name.value || !targets.value || !image.value || !html.value) {
        form.message = "The banner was not added: see the fields below.";
        return showBanners(page, form, 400);
    }
    Banner banner { newBannerId(page.store), *name.value, *image.value, imageFile->content, {}, *targets.value };
    banner.page = pageForClient(*html.value, imageFile->filename, banner.id);
    banner.created = page.now;
    const auto id = page.store.addBanner(std::move(banner));
    page.redirect("/console/banners#b" + id);
}

void edit(Page& page)
{
    const std::string id = page.req.matches[1];
    if (!page.store.banner(id))
        return showBanners(page, { .message = "There is no banner " + id + "." }, 404);
    FormState form { .bannerId = id, .name = page.field("name"), .targets = page.field("targets") };
    const auto name = checkBannerName(form.name);
    const auto targets = checkLinkTargets(form.targets);
    form.nameError = name.error;
    form.targetsError = targets.error;
    if (!name.value || !targets.value)
        return showBanners(page, form, 400);
    page.store.updateBanner(id, *name.value, *targets.value);
    page.redirect("/console/banners#b" + id);
}

void retire(Page& page)
{
    const std::string id = page.req.matches[1];
    if (!page.store.banner(id))
        return showBanners(page, { .message = "There is no banner " + id + "." }, 404);
    page.store.retireBanner(id, page.field("retired") == "1");
    page.redirect("/console/banners#b" + id);
}

// Public like the query script's LOGO and HTML, which hand out the same
// bytes to anyone; the sandboxed frame has no origin of its own, so the
// browser would not send the session cookie with its image request anyway.
void preview(const std::shared_ptr<ConsoleState>& state, const httplib::Request& req, httplib::Response& res)
{
    const std::string id = req.matches[1];
    const std::string file = req.matches[2];
    const auto banner = state->store.banner(id);
    res.set_header("Content-Security-Policy", PreviewPolicy);
    if (!banner || (file != id + ".htm" && file != id + ".gif")) {
        res.status = 404;
        return res.set_content("not found\n", "text/plain");
    }
    if (file == id + ".htm")
        return res.set_content(banner->page, "text/html");
    res.set_content(banner->image, banner->imageType.c_str());
}

} // namespace

void addBannerPages(Routes& routes)
{
    routes.get("/console/banners", [](Page& page) { showBanners(page, {}); });
    routes.post("/console/banners", upload);
    routes.post(R"(/console/banners/([A-Za-z0-9]{6}))", edit);
    routes.post(R"(/console/banners/([A-Za-z0-9]{6})/retire)", retire);
    routes.server().Get(R"(/console/preview/([A-Za-z0-9]{6})/([A-Za-z0-9]{6}\.(?:htm|gif)))",
        [state = routes.state()](const httplib::Request& req, httplib::Response& res) { preview(state, req, res); });
}

} // namespace vexor::server::console
