#include "store/historyschema.h"

#include <array>

namespace {

// Sessions, their agents, each agent's turns, its transcript in chunks
// (with the style runs that start in each) and each turn's raw output in
// chunks. Every row hangs on its session, so deleting the session deletes
// it all. Times are milliseconds since the epoch (UTC); folders are bytes.
const std::array version1{
    "CREATE TABLE sessions ("
    " id TEXT PRIMARY KEY NOT NULL,"
    " base_folder BLOB,"
    " created_at INTEGER,"
    " updated_at INTEGER,"
    " title TEXT)",
    "CREATE INDEX sessions_by_update ON sessions (updated_at)",
    "CREATE TABLE agents ("
    " session_id TEXT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,"
    " tool TEXT NOT NULL,"
    " conversation_id TEXT,"
    " can_resume INTEGER NOT NULL DEFAULT 0,"
    " workspace_folder BLOB,"
    " PRIMARY KEY (session_id, tool))",
    "CREATE TABLE turns ("
    " session_id TEXT NOT NULL,"
    " tool TEXT NOT NULL,"
    " turn_index INTEGER NOT NULL,"
    " prompt TEXT,"
    " state_case INTEGER NOT NULL DEFAULT 0,"
    " state_value INTEGER NOT NULL DEFAULT 0,"
    " started_at INTEGER,"
    " ended_at INTEGER,"
    " usage_turns INTEGER,"
    " usage_input_tokens INTEGER,"
    " usage_output_tokens INTEGER,"
    " usage_cost_usd REAL,"
    " usage_duration_ms INTEGER,"
    " conversation_id TEXT,"
    " resumed INTEGER NOT NULL DEFAULT 0,"
    " new_conversation INTEGER NOT NULL DEFAULT 0,"
    " text_start INTEGER NOT NULL DEFAULT 0,"
    " output_start INTEGER NOT NULL DEFAULT 0,"
    " output_end INTEGER NOT NULL DEFAULT -1,"
    " instance TEXT,"
    " PRIMARY KEY (session_id, tool, turn_index),"
    " FOREIGN KEY (session_id, tool) REFERENCES agents (session_id, tool) ON DELETE CASCADE)",
    "CREATE INDEX turns_running ON turns (instance) WHERE instance <> ''",
    // text_length counts UTF-16 units, as the offsets do. A chunk of style
    // runs alone has no text and shares its offset with the next.
    "CREATE TABLE transcript_chunks ("
    " id INTEGER PRIMARY KEY,"
    " session_id TEXT NOT NULL,"
    " tool TEXT NOT NULL,"
    " text_offset INTEGER NOT NULL,"
    " text_length INTEGER NOT NULL,"
    " text TEXT,"
    " runs BLOB,"
    " FOREIGN KEY (session_id, tool) REFERENCES agents (session_id, tool) ON DELETE CASCADE)",
    "CREATE INDEX transcript_chunks_by_agent ON transcript_chunks (session_id, tool, text_offset)",
    "CREATE TABLE raw_chunks ("
    " id INTEGER PRIMARY KEY,"
    " session_id TEXT NOT NULL,"
    " tool TEXT NOT NULL,"
    " turn_index INTEGER NOT NULL,"
    " channel INTEGER NOT NULL,"
    " bytes BLOB NOT NULL,"
    " FOREIGN KEY (session_id, tool, turn_index)"
    "  REFERENCES turns (session_id, tool, turn_index) ON DELETE CASCADE)",
    "CREATE INDEX raw_chunks_by_turn ON raw_chunks (session_id, tool, turn_index, channel)",
};

// Searching: one row of text per session title (tool '', turn -1, kind 0),
// turn prompt (kind 1) and turn output (kind 2), in an FTS5 table with a
// trigram index, so that any part of a word is found. search_rows says
// whose each text is; deleting one of its rows, also through a session's
// cascade, deletes its text.
const std::array version2{
    "CREATE TABLE search_rows ("
    " id INTEGER PRIMARY KEY,"
    " session_id TEXT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,"
    " tool TEXT NOT NULL,"
    " turn_index INTEGER NOT NULL,"
    " kind INTEGER NOT NULL,"
    " UNIQUE (session_id, tool, turn_index, kind))",
    "CREATE VIRTUAL TABLE search_text USING fts5 (body, tokenize = 'trigram')",
    "CREATE TRIGGER search_rows_deleted AFTER DELETE ON search_rows"
    " BEGIN DELETE FROM search_text WHERE rowid = old.id; END",
};

// The git worktrees Brevane makes for a session's agents, so that each can
// be removed again, also after a crash: a row is written before its
// worktree is made (state 0, creating), marked ready (1) once it is, and
// removed (2) once it is gone. Folders and the repository's top are bytes.
const std::array version3{
    "CREATE TABLE worktrees ("
    " session_id TEXT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,"
    " tool TEXT NOT NULL,"
    " repository_top BLOB NOT NULL,"
    " path BLOB NOT NULL,"
    " base_commit TEXT,"
    " subfolder BLOB,"
    " state INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY (session_id, tool))",
};

// The user's check of a turn, run after the turn ended: how it ended
// (CheckResult's outcome by its number), its exit status, its signal, and
// why it could not start. A row per turn at most, which goes with its turn;
// none for a turn never checked, nor while a check runs.
const std::array version4{
    "CREATE TABLE checks ("
    " session_id TEXT NOT NULL,"
    " tool TEXT NOT NULL,"
    " turn_index INTEGER NOT NULL,"
    " outcome INTEGER NOT NULL,"
    " exit_code INTEGER NOT NULL DEFAULT 0,"
    " signal INTEGER NOT NULL DEFAULT 0,"
    " error TEXT,"
    " PRIMARY KEY (session_id, tool, turn_index),"
    " FOREIGN KEY (session_id, tool, turn_index)"
    "  REFERENCES turns (session_id, tool, turn_index) ON DELETE CASCADE)",
};

} // namespace

std::span<const char* const> HistorySchema::stepTo(int version)
{
    switch (version) {
    case 1:
        return version1;
    case 2:
        return version2;
    case 3:
        return version3;
    case 4:
        return version4;
    default:
        return {};
    }
}
