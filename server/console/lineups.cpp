#include "forms.h"
#include "page.h"

// Line-ups: the ten slots, the interval, the period and the client filter;
// which one is in force, and what a client gets now.
namespace vexor::server::console {

namespace {

struct LineupForm {
    std::int64_t id = 0;
    std::string name {}, interval {}, from {}, until {}, client {};
    std::array<std::string, SlotCount> slots {};
    std::string nameError {}, intervalError {}, fromError {}, untilError {}, clientError {}, message {};
};

std::string periodText(const StoredLineup& lineup)
{
    if (lineup.standing())
        return "standing (when no planned one is in force)";
    const auto from = lineup.validFrom ? utcMinuteText(*lineup.validFrom) : std::string("always");
    const auto until = lineup.validUntil ? utcMinuteText(*lineup.validUntil) : std::string("open end");
    return from + " to " + until;
}

std::int64_t inForce(const Page& page)
{
    return page.options.chooseLineup ? page.options.chooseLineup("", page.now).lineupId : -1;
}

void showList(Page& page)
{
    const auto force = inForce(page);
    Html rows;
    for (const auto& lineup : page.store.lineups()) {
        std::string slots;
        for (const auto& id : lineup.lineup.ids)
            slots += (slots.empty() ? "" : " ") + id;
        rows += templateNamed("lineups.row").render({ { "id", lineup.id }, { "name", lineup.name }, { "slots", slots },
            { "interval", std::int64_t(lineup.lineup.intervalMs) }, { "period", periodText(lineup) },
            { "client", lineup.clientId.value_or("every client") },
            { "force", lineup.id == force ? "in force now" : "" }, { "forceClass", lineup.id == force ? "in-force" : "" } });
    }
    const auto body = templateNamed("lineups").render({ { "rows", rows },
        { "forceNote", force < 0 ? "The line-up in force cannot be told here." : "" } });
    page.show("Line-ups", "lineups", body);
}

Html slotOptions(const std::vector<BannerInfo>& banners, const std::string& chosen)
{
    const auto& option = templateNamed("lineups.option");
    Html out = option.render({ { "id", EmptySlotId }, { "caption", "empty" }, { "selected", chosen == EmptySlotId ? "selected" : "" } });
    for (const auto& banner : banners) {
        if (banner.retired && banner.id != chosen)
            continue;
        out += option.render({ { "id", banner.id },
            { "caption", banner.id + " " + banner.name + (banner.retired ? " (retired)" : "") },
            { "selected", banner.id == chosen ? "selected" : "" } });
    }
    return out;
}

void showForm(Page& page, const LineupForm& form, int status = 200)
{
    const auto banners = page.store.banners();
    Html slots;
    for (int i = 0; i < SlotCount; ++i)
        slots += templateNamed("lineups.slot").render({ { "n", i }, { "options", slotOptions(banners, form.slots[std::size_t(i)]) } });
    const bool isNew = form.id == 0;
    const auto action = isNew ? std::string("/console/lineups/new") : "/console/lineups/" + std::to_string(form.id);
    Html deleteForm;
    if (!isNew)
        deleteForm = templateNamed("lineups.delete").render({ { "action", action + "/delete" }, { "csrf", csrfField(page) } });
    const auto body = templateNamed("lineups.form").render({ { "action", action }, { "csrf", csrfField(page) },
        { "name", form.name }, { "interval", form.interval }, { "from", form.from }, { "until", form.until },
        { "client", form.client }, { "slots", slots }, { "message", form.message },
        { "messageClass", form.message.empty() ? "hidden" : "notice error" },
        { "nameError", fieldError("name", form.nameError) }, { "intervalError", fieldError("interval", form.intervalError) },
        { "fromError", fieldError("from", form.fromError) }, { "untilError", fieldError("until", form.untilError) },
        { "clientError", fieldError("client", form.clientError) }, { "delete", deleteForm } });
    std::string title = "New line-up";
    if (!isNew)
        title = "Line-up " + form.name;
    page.show(title, "lineups", body, status);
}

LineupForm formOf(const StoredLineup& lineup)
{
    LineupForm form { .id = lineup.id, .name = lineup.name, .interval = std::to_string(lineup.lineup.intervalMs),
        .from = lineup.validFrom ? utcMinuteText(*lineup.validFrom) : "",
        .until = lineup.validUntil ? utcMinuteText(*lineup.validUntil) : "", .client = lineup.clientId.value_or("") };
    form.slots = lineup.lineup.ids;
    return form;
}

std::optional<StoredLineup> findLineup(Store& store, std::int64_t id)
{
    for (auto& lineup : store.lineups())
        if (lineup.id == id)
            return lineup;
    return std::nullopt;
}

// Reads and checks the posted form; the line-up when every field is right.
std::optional<StoredLineup> readForm(const Page& page, LineupForm& form)
{
    form.name = page.field("name");
    form.interval = page.field("interval");
    form.from = page.field("from");
    form.until = page.field("until");
    form.client = page.field("client");
    StoredLineup lineup;
    lineup.id = form.id;
    lineup.name = form.name;
    for (int i = 0; i < SlotCount; ++i) {
        auto& slot = form.slots[std::size_t(i)];
        slot = page.field("slot" + std::to_string(i));
        if (slot.empty())
            slot = EmptySlotId;
        if (!isBannerId(slot))
            form.message = "slot " + std::to_string(i) + ": \"" + slot + "\" is not a banner id";
        lineup.lineup.ids[std::size_t(i)] = slot;
    }
    form.nameError = checkBannerName(form.name).error;
    const auto interval = checkInterval(form.interval);
    const auto from = checkUtcMinute(form.from);
    const auto until = checkUtcMinute(form.until);
    const auto client = checkClientFilter(form.client);
    form.intervalError = interval.error;
    form.fromError = from.error;
    form.untilError = until.error;
    form.clientError = client.error;
    if (from.value && until.value && *from.value && *until.value && **until.value <= **from.value)
        form.untilError = "the end must come after the start";
    if (!form.nameError.empty() || !form.intervalError.empty() || !form.fromError.empty() || !form.untilError.empty()
        || !form.clientError.empty() || !form.message.empty())
        return std::nullopt;
    lineup.lineup.intervalMs = *interval.value;
    lineup.validFrom = *from.value;
    lineup.validUntil = *until.value;
    lineup.clientId = *client.value;
    lineup.created = page.now;
    return lineup;
}

void save(Page& page, std::int64_t id)
{
    LineupForm form { .id = id };
    const auto lineup = readForm(page, form);
    if (!lineup) {
        if (form.message.empty())
            form.message = "The line-up was not saved: see the fields below.";
        return showForm(page, form, 400);
    }
    auto toSave = *lineup;
    if (id != 0) {
        // A change keeps its place among the planned ones: the latest created wins.
        const auto old = findLineup(page.store, id);
        if (!old)
            return page.redirect("/console/lineups");
        toSave.created = old->created;
    }
    try {
        page.store.saveLineup(toSave);
    } catch (const StoreRejected& refused) {
        form.message = std::string("The line-up was not saved: ") + refused.what();
        return showForm(page, form, 400);
    }
    page.redirect("/console/lineups");
}

std::int64_t idOf(const Page& page)
{
    return std::stoll(page.req.matches[1]);
}

void clientView(Page& page)
{
    const auto client = page.param("client");
    const auto checked = checkClientFilter(client);
    std::string answer, lineup;
    if (checked.value && *checked.value && page.options.chooseLineup) {
        const auto choice = page.options.chooseLineup(client, page.now);
        answer = choice.answer;
        const auto found = findLineup(page.store, choice.lineupId);
        lineup = found ? found->name + " (" + std::to_string(found->id) + ")" : "none stored: every slot empty";
    }
    const auto error = !checked.error.empty() ? checked.error
        : client.empty() && page.req.has_param("client") ? "enter a client id"
        : !page.options.chooseLineup ? "not available in this server" : "";
    const auto body = templateNamed("lineups.now").render({ { "client", client },
        { "clientError", fieldError("client", error) }, { "answer", answer }, { "lineup", lineup },
        { "resultClass", answer.empty() ? "hidden" : "result" }, { "time", utcMinuteText(page.now) } });
    page.show("What a client gets now", "lineups", body, error.empty() ? 200 : 400);
}

} // namespace

void addLineupPages(Routes& routes)
{
    routes.get("/console/lineups", showList);
    routes.get("/console/lineups/now", clientView);
    routes.get("/console/lineups/new", [](Page& page) {
        LineupForm form { .interval = "5000", .from = utcMinuteText(page.now) };
        form.slots.fill(std::string(EmptySlotId));
        showForm(page, form);
    });
    routes.post("/console/lineups/new", [](Page& page) { save(page, 0); });
    routes.get(R"(/console/lineups/(\d{1,15}))", [](Page& page) {
        const auto lineup = findLineup(page.store, idOf(page));
        if (!lineup)
            return page.redirect("/console/lineups");
        showForm(page, formOf(*lineup));
    });
    routes.post(R"(/console/lineups/(\d{1,15}))", [](Page& page) { save(page, idOf(page)); });
    routes.post(R"(/console/lineups/(\d{1,15})/delete)", [](Page& page) {
        page.store.deleteLineup(idOf(page));
        page.redirect("/console/lineups");
    });
}

} // namespace vexor::server::console
