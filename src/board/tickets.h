// Tickets: a ticket is taken ahead of a game and carries no seed; the seed
// is drawn when its game starts, at the server's clock, for the name whose
// secret starts it. A ticket starts once. Started games not yet sent are
// running games, a few at most for one name and for one client.
#pragma once

#include <optional>
#include <string>

#include "board/http.h"
#include "board/owners.h"
#include "board/settings.h"

namespace kiv::board {

// 32 lowercase hex digits.
bool ticket_id_ok(const std::string& id);

enum TicketState { NO_TICKET = -1, ISSUED = 0, STARTED = 1, ABANDONED = 2, SENT = 3 };
// A ticket's state as it is now.
TicketState ticket_state(Db& db, const std::string& id);
// The lock under which one request at a time changes a ticket's state,
// whichever server it reaches.
std::int64_t ticket_lock(const std::string& id);

// POST /api/tickets {} or {"daily": true}: 201 {"ticket", "expires",
// "margin", ...}, and "daily": true for today's daily game.
Answer issue_ticket(Db& db, const BoardSettings& settings, const std::string& body);
// POST /api/tickets/ID/start {"name"}, for the owner of the request's
// secret: 200 {"seed", "name"}; of a daily ticket also "daily" (the day)
// and "ranked" (the name's ranked try of the day, or practice).
Answer start_ticket(Db& db, const BoardSettings& settings, const std::string& id, const std::string& body,
                    const std::optional<Owner>& owner, const std::string& client);
// POST /api/tickets/ID/abandon: its game is left, the ticket burnt (under
// the ticket's lock: never a ticket whose game was sent).
Answer abandon_ticket(Db& db, const std::string& id);

// Once an hour: forgets tickets that ended a day ago, and the clients' keys
// of the days before yesterday.
void sweep_tickets(Db& db);

} // namespace kiv::board
