#include "board/tickets.h"

#include <sodium.h>

#include <cmath>
#include <map>

#include "board/daily.h"
#include "board/fields.h"
#include "board/names.h"
#include "board/rate.h"
#include "board/stream.h"
#include "frame/loop.h"
#include "replay/format.h"

namespace kiv::board {

namespace {

// The lock under which one start at a time counts and takes a running game.
constexpr std::int64_t START_LOCK = 1263027539;
constexpr int RETRY_RUNNING = 10;  // seconds
constexpr int RETRY_QUEUE = 30;

// The day's key for clients' networks: drawn at random by the first server
// that needs it, the same for every server of the board that day.
std::string day_key(Db& db, std::int64_t day)
{
    unsigned char fresh[crypto_generichash_KEYBYTES];
    randombytes_buf(fresh, sizeof fresh);
    db.run("INSERT INTO client_keys (day, key) VALUES (?, ?) ON CONFLICT (day) DO NOTHING",
           {day, Blob{std::string(reinterpret_cast<const char*>(fresh), sizeof fresh)}});
    return db.run("SELECT key FROM client_keys WHERE day = ?", {day}).at(0).text(0);
}

// A client's network as the tickets keep it: hashed under a day's key, so
// that it matches across servers that day and names nobody.
Blob client_hash(const std::string& key, const std::string& client)
{
    const TokenBuckets::Key network = client_network(client);
    unsigned char h[16];
    crypto_generichash(h, sizeof h, network.data(), network.size(), reinterpret_cast<const unsigned char*>(key.data()),
                       key.size());
    return Blob{std::string(reinterpret_cast<const char*>(h), sizeof h)};
}

} // namespace

bool ticket_id_ok(const std::string& id)
{
    return id.size() == 32 && id.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TicketState ticket_state(Db& db, const std::string& id)
{
    const Rows r = db.run("SELECT state FROM tickets WHERE ticket = ?", {id});
    return r.empty() ? NO_TICKET : static_cast<TicketState>(r[0].integer(0));
}

std::int64_t ticket_lock(const std::string& id)
{
    return static_cast<std::int64_t>(std::stoull(id.substr(0, 15), nullptr, 16));
}

Answer issue_ticket(Db& db, const BoardSettings& settings, const std::string& body)
{
    // An empty body, or a JSON object: {"daily": true} for today's game, and
    // the page's rules version (pages before it was sent have version 1).
    std::map<std::string, std::string> fields;
    std::string why;
    if (!body.empty() && !read_fields(body, {{"daily", 0, true}, {"rules", 65535, false, true}}, &fields, &why))
        return error(400, why);
    const bool daily = fields["daily"] == "true";
    const int rules = fields.count("rules") ? std::stoi(fields["rules"]) : 1;
    if (rules != RULES_VERSION) {
        // Told before its game is played, not refused after.
        const char* sentence = rules < RULES_VERSION
                                   ? "This page plays an older version of Kiv's rules than the board: update Kiv "
                                     "to play ranked games."
                                   : "This page plays a newer version of Kiv's rules than the board: its games can "
                                     "be ranked once the board is updated.";
        return json_answer(409, json{{"error", sentence}, {"rules", RULES_VERSION}});
    }
    unsigned char bytes[16];
    randombytes_buf(bytes, sizeof bytes);
    char id[33];
    sodium_bin2hex(id, sizeof id, bytes, sizeof bytes);
    const std::int64_t now = now_ms(), expires = now + std::llround(settings.ticket_lifetime * 1000);
    db.run("INSERT INTO tickets (ticket, created_ms, expires_ms, daily) VALUES (?, ?, ?, ?)",
           {std::string(id), now, expires, static_cast<std::int64_t>(daily)});
    json answer{{"ticket", id}, {"expires", (expires + 999) / 1000}, {"margin", settings.pace_margin},
                {"tolerance", settings.pace_tolerance},
                {"max_steps_per_frame", settings.verify.max_steps_per_frame},
                {"max_steps_per_frame_in_second", settings.verify.max_steps_per_frame_in_second}};
    if (daily)
        answer["daily"] = true;
    return json_answer(201, answer);
}

Answer start_ticket(Db& db, const BoardSettings& settings, const std::string& id, const std::string& body,
                    const std::optional<Owner>& owner, const std::string& client)
{
    std::map<std::string, std::string> fields;
    std::string why;
    if (!read_fields(body, {{"name", 256}}, &fields, &why))
        return error(400, why);
    if (!owner)
        return no_owner();
    if (name_key(fields["name"]) != name_key(owner->name))
        return error(401, "The secret sent does not hold the name " + fields["name"] + ".");
    const std::int64_t now = now_ms();
    Transaction t(db);
    db.lock(START_LOCK);
    db.lock(ticket_lock(id));
    const Rows ticket = db.run("SELECT state, expires_ms, daily FROM tickets WHERE ticket = ?", {id});
    if (ticket.empty())
        return error(404, "There is no such ticket.");
    const auto state = ticket[0].integer(0);
    if (state == STARTED || state == SENT)
        return error(409, "The ticket was started already: each game needs a ticket of its own.");
    if (state == ABANDONED)
        return error(409, "The ticket was given up: each game needs a ticket of its own.");
    if (ticket[0].integer(1) <= now)
        return error(410, "The ticket has expired.");
    // This version's games only: another version's are its verifiers' to play.
    if (db.run("SELECT count(*) FROM games WHERE status = 0 AND rules = ?", {static_cast<std::int64_t>(RULES_VERSION)})
            .at(0)
            .integer(0) >= settings.queue)
        return busy(503, "The board has too many games to verify just now; try again shortly.", RETRY_QUEUE);
    // A game more than the margin behind is left, whether or not a sweep
    // has said so yet.
    std::vector<Value> by_name{owner->id, now};
    for (const Value& v : not_behind_at(now, settings.pace_margin))
        by_name.push_back(v);
    if (db.run(std::string("SELECT count(*) FROM tickets WHERE state = 1 AND owner = ? AND expires_ms > ? AND ") +
                   NOT_BEHIND,
               by_name)
            .at(0)
            .integer(0) >= settings.running_per_name)
        return busy(429,
                    owner->name + " has " + std::to_string(settings.running_per_name) +
                        " games running already: finish or leave one first.",
                    RETRY_RUNNING);
    // Today's hash is kept; yesterday's still counts, for games begun before midnight.
    const std::int64_t day = now / DAY_MS;
    const Blob today = client_hash(day_key(db, day), client), yesterday = client_hash(day_key(db, day - 1), client);
    std::vector<Value> by_client{today, yesterday, now};
    for (const Value& v : not_behind_at(now, settings.pace_margin))
        by_client.push_back(v);
    if (db.run(std::string("SELECT count(*) FROM tickets WHERE state = 1 AND client IN (?, ?) AND expires_ms > ? "
                           "AND ") +
                   NOT_BEHIND,
               by_client)
            .at(0)
            .integer(0) >= settings.running_per_client)
        return busy(429, "Too many games are running from this address: finish or leave one first.", RETRY_RUNNING);
    // A daily game takes the day's seed, and spends the name's ranked try
    // of the day if it has not been spent.
    const bool daily = ticket[0].integer(2) != 0;
    const DailyStart d = daily ? start_daily(db, owner->id, id, now) : DailyStart{};
    const std::uint32_t seed = daily ? d.seed : randombytes_random();
    // Its game must arrive within the longest game a replay holds and the margin.
    unsigned char drawn[8];
    randombytes_buf(drawn, sizeof drawn);
    char live[17];
    sodium_bin2hex(live, sizeof live, drawn, sizeof drawn);
    db.run("UPDATE tickets SET state = 1, seed = ?, started_ms = ?, owner = ?, client = ?, expires_ms = ?, day = ?, "
           "ranked = ?, live = ? WHERE ticket = ?",
           {static_cast<std::int64_t>(seed), now, owner->id, today,
            now + LONGEST_GAME_MS + std::llround(settings.pace_margin * 1000), daily ? Value(d.day) : Value(nullptr),
            static_cast<std::int64_t>(d.ranked), std::string(live), id});
    t.commit();
    json answer{{"seed", seed}, {"name", owner->name}, {"live", live}};
    if (daily) {
        answer["daily"] = d.day;
        answer["ranked"] = d.ranked;
    }
    return json_answer(200, answer);
}

Answer abandon_ticket(Db& db, const std::string& id)
{
    Transaction t(db);
    db.lock(ticket_lock(id));
    const Rows ticket = db.run("SELECT state, live FROM tickets WHERE ticket = ?", {id});
    if (ticket.empty())
        return error(404, "There is no such ticket.");
    if (ticket[0].integer(0) == SENT)
        return error(409, "The ticket's game was sent already.");
    db.run("UPDATE tickets SET state = 2, ended_ms = ? WHERE ticket = ?", {now_ms(), id});
    if (!ticket[0].null(1))
        notify_stream(db, ticket[0].text(1), 0, -1);
    t.commit();
    return json_answer(200, json{{"ticket", id}, {"state", "abandoned"}});
}

void sweep_tickets(Db& db)
{
    const std::int64_t now = now_ms();
    db.run("DELETE FROM chunks WHERE ticket IN (SELECT ticket FROM tickets WHERE expires_ms < ?)", {now - DAY_MS});
    db.run("DELETE FROM tickets WHERE expires_ms < ?", {now - DAY_MS});
    db.run("DELETE FROM client_keys WHERE day < ?", {now / DAY_MS - 1});
    db.run("DELETE FROM pairings WHERE expires_ms < ?", {now - DAY_MS});
}

} // namespace kiv::board
