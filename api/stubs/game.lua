-- SPDX-FileCopyrightText: Halvercot
-- SPDX-License-Identifier: MIT
---@meta

-- The Ostrel mod API, as annotations for the Lua language server. Nothing here runs: the
-- server builds the real `game` table for each mod when it loads the mod's init.lua. Point the
-- language server at this file (for instance through `workspace.library` in .luarc.json) to
-- get completion, types and the refusal texts in hover.
--
-- # The environment
--
-- Each mod runs in its own environment: a copy of the standard globals with these changes.
--   * `io`, `os`, `package`, `debug`, `dofile`, `loadfile`, `loadstring` and `ffi` are absent.
--   * `string`, `table`, `math`, `utf8` and `coroutine` are the mod's own copies: changing them
--     changes nothing for another mod. The string metatable cannot be reached
--     (`getmetatable("")` answers false).
--   * `require`, `load`, `collectgarbage` and `setmetatable` are replaced (see below).
--   * `_G` is the environment itself; `game` is this mod's `game` table.
--   * `print` and `warn` write this mod's INFO and WARN lines through the server's logger.
--
-- # Budgets
--
-- Every entry into mod code (running init.lua, one hook handler, one tick, one entity step)
-- runs under a budget of units set by the server (`--check-mods` uses 20000000): a Lua
-- instruction is one unit, and the work library functions do is charged at fixed rates (a byte
-- copied 1/16, a byte scanned 1/4, an element moved 1, a pattern step 1, a byte allocated 1/64;
-- AGENTS.md has the whole table). The count never depends on the machine's speed. The
-- once-a-world `register_on_world_init` handler gets 1024 times as much. An entry that spends
-- its budget fails with "ostrel: instruction budget exceeded"; `pcall` cannot catch it and go
-- on. The whole Lua state also has a memory limit (256 MiB under `--check-mods`); when it is
-- passed, the mod holding the most memory is disabled, and its own running code fails with
-- Lua's "not enough memory". A mod whose entry fails is disabled: none of its handlers runs
-- again, and the action it was asked about goes ahead as if it had no handler.
--
-- # Conventions
--
-- Ids. A mod registers ids in its own namespace: "stone" becomes "mymod:stone", and
-- "mymod:stone" is kept. An id with another mod's prefix is refused with
-- "mod `mymod` may not register into namespace `other`: a mod owns only its own id as a
-- namespace". Where a function takes a reference to something (a drop, a tool speed, a sound),
-- a name without ":" gets your mod's prefix and a name with ":" is taken as it is; the
-- exceptions (a fluid's block, material look-ups) say so.
--
-- The registration window. Registration functions work while the mods' init.lua files run.
-- Once every mod has loaded, the server freezes the registries; a registration after that is
-- refused with "mod `<mod>`: registration is closed".
--
-- Arguments. An integer may be given as a float (cut toward zero; `register_fluid` takes only
-- whole numbers, and a material number must be an integer) or as a numeric string; a number
-- given where text is wanted reads as its text (3 -> "3"). A value of the wrong type is
-- refused as "bad argument #<n> to '<function>' (expected <type>, got <type>)", and an integer
-- out of range as "bad argument #<n> to '<function>' (<value> is out of range for an unsigned
-- 16-bit integer)" (the type named is the one wanted). A field of a definition table of the wrong
-- type is refused as "<function>(\"<id>\"): bad field `<field>` (expected <type>, got <type>)".
-- Every refusal is a Lua error whose text is exactly the one shown here, with no position
-- prefix; every registration checks everything before it writes anything, so a refused call
-- leaves nothing behind.
--
-- Files. Paths are relative to the mod's directory, with "/" (a "\" is read as "/"). A path
-- that is empty is refused with "<function>: path `<path>` is empty. Paths are relative to
-- your mod's own directory.", and likewise "is absolute" (it starts with "/" or holds ":") and
-- "escapes the mod directory" (a ".." segment). Where the file must exist, a missing one is
-- refused with "<function>: `<path>` is not a file in mod `<mod>`'s directory: No such file or
-- directory (os error 2)" (or ": not a regular file").
--
-- Players are named by their 64 lowercase hex digits. Entity ids are integers (the 64 bits
-- read as a signed integer).

-- ---- Globals -------------------------------------------------------------------------------

--- Runs `<name>.lua` from the mod's own directory and returns its first result. Dots in the
--- name are directory separators: `require("lib.util")` runs "lib/util.lua". The file is read
--- and run again on every call (there is no cache); a file that holds a single expression
--- returns its value. It runs in the mod's environment.
---
--- Refusals: "require(\"<name>\"): mod `<mod>` may only require files inside its own
--- directory" (also for a file that does not exist), "require(\"<name>\"): stream did not
--- contain valid UTF-8", and "require(\"<name>\"): <read error>".
---@param name string
---@return any
function require(name) end

--- Compiles `chunk` (text only) into a function whose globals are the calling mod's
--- environment. A mode or an environment argument is ignored. Unlike the standard `load`, a
--- syntax error is raised, not returned.
---
--- Refusals: "load: binary chunks are not permitted"; the compiler's own message.
---@param chunk string
---@param chunkname? string Chunk name as Lua uses it ("=(load)" when absent).
---@return function
function load(chunk, chunkname) end

--- Only "collect" (the default; answers 0) and "count" (kilobytes in use) are permitted.
---
--- Refusal: "collectgarbage: option `<opt>` is not permitted".
---@param opt? "collect"|"count"
---@return number
function collectgarbage(opt) end

--- The standard `setmetatable`, except that a metatable with `__gc` is refused: a finalizer
--- would run outside any budget.
---
--- Refusal: "setmetatable: a metatable with `__gc` is not permitted".
---@generic T: table
---@param t T
---@param mt? table
---@return T
function setmetatable(t, mt) end

-- ---- Shared types ----------------------------------------------------------------------------

--- A material: its number (0 to 65535), or a registered block id in full ("mymod:stone"). An
--- id is looked up exactly as given; no prefix is added. Refusals: "material id <n> is out of
--- range", "no block registered with id `<id>`", "material must be a block id or a numeric
--- material, got <type>" (a float such as 5.0 is refused this way).
---@alias game.Material integer|string

--- What a hook handler answers. `false` refuses the action: the run stops and no later
--- handler is asked. A string refuses it with that text as the reason shown (at most 512
--- bytes are kept; invalid UTF-8 is replaced). A table lets the action proceed and may carry
--- `drops`. Anything else (`nil`, `true`, a number) lets the action proceed.
---@alias game.Answer false|string|game.AnswerTable|true|nil

---@class game.AnswerTable
--- Block id (unqualified names get your prefix) to units per block. When several handlers
--- answer a table with `drops`, the last one read counts. A `drops` that is not such a table
--- disables the mod: "`drops` is a table of block id to units per block: <why>".
---@field drops? table<string, integer>

---@class game.Xyz
---@field x integer
---@field y integer
---@field z integer

--- An item stack as the engine hands it to a handler.
---@class game.Stack
---@field material integer The material number.
---@field units integer The count in units (27 make a whole block).
---@field blocks integer `units // 27`.
---@field nodes integer `units % 27`.
---@field count integer Pieces: for a shaped stack, units divided by the cells of its shape; otherwise `units // 27`.
---@field shape? integer The 27-bit cell mask of a cut; 0x7FFFFFF for a full cut of several materials; absent for loose material.
---@field cells? integer[] 27 material numbers, entry i being cell i - 1; only for a cut of several materials.
---@field detail? string The stack's detail text, when it has one.

---@class game.PlayerEvent
---@field player string The player, 64 lowercase hex digits.

-- ---- The game table --------------------------------------------------------------------------

--- The mod API. Each mod has its own `game` table: functions that register something record
--- it for the mod that calls them.
---@class game
--- The world's seed (its 64 bits as a signed integer). Set by the server once it has opened
--- the world, after the mods have loaded: nil while init.lua runs.
---@field world_seed? integer
game = {}

--- Writes `message` to the server log as one INFO line carrying the field `mod_id`; control
--- characters are written escaped, so the line stays one line. Costs 100 units and one a byte.
---@param message string
function game.log(message) end

-- ---- Blocks and items ----------------------------------------------------------------------

---@class game.BlockTextures
--- The image used on every face; a path relative to your mod's directory. Only `all` exists:
--- any other key is refused with "unknown texture key `<key>`. Only `all` is supported;
--- per-face textures are not implemented yet."
---@field all string

---@class game.BlockSounds
--- The sound id played for steps on this block (unqualified names get your prefix). Other
--- keys of `sounds` are ignored.
---@field step? string

---@class game.LightEmit
---@field r? integer 0..=15
---@field g? integer 0..=15
---@field b? integer 0..=15

---@class game.Flicker
---@field depth? number Share of the light the flicker takes away, 0..=1; default 0.3.
---@field rate? number Steps a second, 1..=30; default 8.

---@class game.Absorbs
---@field rate integer Cells of the block's 27 it drinks per fluid tick, 1..=27. Required.
---@field fluid? string The fluid it drinks (absent: any fluid).
---@field becomes? string The block it turns into (absent: it never changes).

--- Colour variation across the world. Stored as given; read when the content is built, where
--- an unusable `tint` is simply left out.
---@class game.Tint
---@field low? number[] {r, g, b} multipliers, 1 is unchanged.
---@field high? number[] {r, g, b} multipliers, 1 is unchanged.
---@field scale? number Blocks a period, 1..65535 (default 32); 0, negative or not finite: no tint.
---@field strength? number 0..1, default 0.

---@class game.BlockDef
---@field id string|number The block id; unqualified ids get your prefix.
---@field name? string Accepted; not used yet.
---@field description? string Accepted; not used yet.
---@field textures? game.BlockTextures
---@field hardness? number Seconds to dig by hand; finite and >= 0. Default 0.75.
---@field dominance? number Finite and > 0. Default 1.
---@field friction? number Share of the ordinary grip, 0 (ice) ..= 1 (default).
---@field light_falloff? integer Light levels lost per block, 0..=15. Default 0.
---@field drops? table<string, integer> Block id (unqualified names get your prefix) to units (unsigned 32-bit).
---@field tags? string[] Texts; read with `game.tags` / `game.tagged` and by tool speeds ("#tag").
---@field sounds? game.BlockSounds
---@field light_emit? game.LightEmit
---@field flicker? game.Flicker Needs `light_emit`.
---@field absorbs? game.Absorbs
---@field tint? game.Tint
---@field transparent? boolean See-through everywhere.
---@field cutout? boolean See-through in places.
---@field passable? boolean
---@field sway? boolean
---@field washes_away? boolean
---@field billboard? boolean|"cross" Drawn as a sprite; "cross" for two crossed sprites.
---@field whole? boolean The block is never split into cells.
---@field sweeps? boolean Only for a `whole` block (or one with a `model`). Default true.
--- Three strings, one layer of nine cells each ("#" filled, "." empty, white space ignored),
--- bottom layer first. Needs `whole = true` or a `model`.
---@field shape? string[]
---@field model? string A registered model id (unqualified names get your prefix); implies `whole`.

--- Registers a block and returns its material number. Numbers are handed out from 2 upwards in
--- the order of the calls (0 and 1 are the engine's own; blocks and items share them).
---
--- Refusals, in the order checked (`<id>` as written, except where it says qualified):
--- * "bad argument #1 to 'register_block' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_block: missing required field `id`"
--- * "register_block(\"<id>\"): unknown field `<field>`"
--- * "register_block(\"<id>\"): `transparent` is see-through everywhere and `cutout` is
---   see-through in places; a block is one or the other"
--- * "register_block(\"<id>\"): a `billboard` is drawn as a sprite and has no faces for
---   `transparent` to apply to; declare the billboard alone (it alpha-tests already)"
---   (or `cutout`)
--- * "register_block(\"<id>\"): a block with a `model` is drawn as the model and has no faces
---   for `transparent` to apply to" (or `cutout`, `sway`)
--- * "register_block(\"<id>\"): a block is drawn as a `model` or as a `billboard`, not both"
--- * "register_block(\"<id>\"): `shape` needs `whole = true` (or a `model`, which implies it):
---   a shape a chisel could take apart is a cut, and a cut is carried, not registered"
--- * the namespace refusal; and for the mod id "engine": "mod `engine` may not register into
---   namespace `engine`: it holds the engine's own materials"
--- * "register_block(\"<qualified>\"): unknown texture key `<key>`. Only `all` is supported;
---   per-face textures are not implemented yet."
--- * "register_block(\"<qualified>\"): `textures` must have an `all` key naming a file, e.g.
---   textures = { all = \"white.png\" }"
--- * "register_block(\"<qualified>\"): texture path `<path>` is empty. Paths are relative to
---   your mod's own directory." (or "is absolute", "escapes the mod directory")
--- * "block `<qualified>` is already registered" (an item's id counts too)
--- * "register_block(\"<id>\"): hardness must be a non-negative number of seconds, got <v>"
--- * "register_block(\"<id>\"): dominance must be a positive number, got <v>"
--- * "register_block(\"<id>\"): friction is a share of the ordinary grip from 0 (ice with
---   nothing to push against) to 1 (the default), got <v>"
--- * "register_block(\"<id>\"): light_falloff is levels lost per block, 0..=15, got <v>"
--- * "register_block(\"<id>\"): `flicker` needs `light_emit`; there is no light to flicker"
--- * "register_block(\"<id>\"): light_emit.<r|g|b> must be 0..=15, got <v>"
--- * "register_block(\"<id>\"): flicker.depth must be 0..=1, got <v>"
--- * "register_block(\"<id>\"): flicker.rate must be 1..=30 steps a second, got <v>"
--- * "register_block: `billboard` is true, false or \"cross\", not \"<text>\"" (or "not a <type>")
--- * "register_block(\"<id>\"): `model` names a registered model; it is empty"
--- * "register_block(\"<id>\"): `model` is a model id (a string), not a <type>"
--- * "register_block(\"<id>\"): `sweeps` is for a `whole` block" (the text goes on with a
---   reference)
--- * "register_block(\"<id>\"): `shape` is a table of three strings, one layer of nine cells
---   each, bottom first", "... `shape` has more than three layers; a block is three cells
---   tall", "... `shape` layer <n> has <k> cells, not nine", "... `shape` cells are `#` or `.`,
---   not `<c>`", "... `shape` has <n> layers, not three (bottom first)", "... `shape` occupies
---   no cell; a block of nothing is air"
--- * "register_block(\"<id>\"): unknown absorbs field `<key>`"
--- * "register_block(\"<id>\"): absorbs.rate must be 1..=27, got <v>. It is how many of a
---   block's 27 cells this drinks per fluid tick; zero is a block that does not absorb, which
---   is what leaving `absorbs` out says."
--- * "register_block(\"<id>\"): drops keys `<a>` and `<b>` both name `<block>`; name each block
---   once"
--- * "register_block(\"<id>\"): every material number from 2 to 65534 is taken; no further
---   block or item can be registered"
--- * a field of the wrong type: "register_block(\"<id>\"): bad field `<field>` (<why>)", with
---   `<field>` e.g. `hardness`, `light_emit.r`, `sounds.step`, `tags[2]`, `shape[1]`, `drops`.
---
--- Only the form of the texture's path is checked; the file is not opened here.
---@param def game.BlockDef
---@return integer material
function game.register_block(def) end

---@class game.ItemDef
---@field id string|number The item id; unqualified ids get your prefix.
---@field name? string The item's display name.
---@field texture? string Path of its image, relative to your mod's directory.
---@field description? string Accepted; not used yet.

--- Registers an item (a material that is never placed in the world) and returns its material
--- number, taken from the same counter as blocks.
---
--- Refusals:
--- * "bad argument #1 to 'register_item' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_item: missing required field `id`"
--- * "register_item(\"<id>\"): unknown field `<field>`. An item is not a block: it has no
---   hardness, no drops and no light, because it is never in the world."
--- * the namespace refusal, and the "engine" refusal of `register_block`
--- * "register_block(\"<qualified>\"): texture path `<path>` is empty. Paths are relative to
---   your mod's own directory." (or "is absolute", "escapes the mod directory"; the text names
---   register_block)
--- * "`<qualified>` is already registered" (a block's id counts too)
--- * "register_item(\"<qualified>\"): bad field `name` (<why>)", likewise `texture`
--- * "register_item(\"<id>\"): every material number from 2 to 65534 is taken; no further
---   block or item can be registered"
---@param def game.ItemDef
---@return integer material
function game.register_item(def) end

-- ---- Material lookups (any time; they change nothing) ----------------------------------------

--- The material number of a registered block or item. The id is matched exactly: give it in
--- full ("mymod:stone").
---
--- Refusal: "no block registered with id `<id>`".
---@param id string
---@return integer material
function game.get_block_id(id) end

--- The id of the block or item that has material number `material`; nil when none has it
--- (0 and 1, the engine's own, answer nil).
---
--- Refusal: "bad argument #1 to 'block_of' (<why>)" for a value that is not 0..65535.
---@param material integer
---@return string|nil id
function game.block_of(material) end

--- The hardness of a registered material in seconds (0.75 when it declared none); nil for a
--- number no block or item has.
---
--- Refusal: "bad argument #1 to 'hardness' (<why>)".
---@param material integer
---@return number|nil seconds
function game.hardness(material) end

--- The tags of a registered material in declaration order (an empty list when it has none);
--- nil for a number no block or item has.
---
--- Refusal: "bad argument #1 to 'tags' (<why>)".
---@param material integer
---@return string[]|nil
function game.tags(material) end

--- The ids of every block (not item) that carries `tag`, ascending by material number.
---
--- Refusal: "bad argument #1 to 'tagged' (expected string, got <type>)".
---@param tag string
---@return string[]
function game.tagged(tag) end

-- ---- Tools -----------------------------------------------------------------------------------

---@class game.ToolDef
---@field id string|number The tool id; unqualified ids get your prefix.
---@field name? string|number
---@field brush? "block"|"subnode" What one dig removes: a whole block, or one of its 27 cells. Default "block".
--- Dig speed for particular blocks: a block id (unqualified names get your prefix) or "#" and a
--- tag, to a positive number. A block entry wins over the tags; among tags, the highest speed.
--- A tag no block carries is logged and ignored.
---@field speeds? table<string, number>
---@field default? boolean This tool digs for a player holding nothing.
---@field speed_multiplier? number Speed for every other material; > 0, default 1.

--- Registers a tool.
---
--- Refusals:
--- * "bad argument #1 to 'register_tool' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_tool: missing required field `id`"
--- * "register_tool(\"<id>\"): unknown field `<field>`"
--- * the namespace refusal
--- * "register_tool(\"<qualified>\"): unknown brush `<brush>`. The engine implements `block`
---   and `subnode`."
--- * "register_tool(\"<qualified>\"): speed_multiplier must be a positive number, got <v>. A
---   tool that digs at zero speed never finishes, which reads as a hung client rather than as
---   a mistake in a mod."
--- * "tool `<qualified>` is already registered"
--- * "register_tool(\"<qualified>\"): bad field `speeds` (<why>)"
--- * "register_tool(\"<qualified>\"): speeds[\"<key>\"] must be a positive number, got <v>"
--- * "register_tool(\"<qualified>\"): speeds keys `<a>` and `<b>` both name `<block>`; name each
---   block once"
---@param def game.ToolDef
function game.register_tool(def) end

-- ---- Fluids ----------------------------------------------------------------------------------

---@class game.FluidColor
---@field r? integer 0..=255, default 255
---@field g? integer 0..=255, default 255
---@field b? integer 0..=255, default 255

---@class game.FluidDef
---@field id string|number The fluid id; unqualified ids get your prefix.
---@field material string|number The block the fluid is drawn as, in your own namespace. Required.
---@field tick_rate? integer Simulation ticks between the fluid's updates, 1..=255. Default 1.
---@field color? game.FluidColor
---@field waterlogs_at? integer Cells of a block's 27 that must be filled before the fluid treats it as floor, 1..=27. Default 14.
---@field evaporates? integer One in how many fluid ticks a block open to the air loses a cell; 0 never (default). 0..=4294967295.
---@field opacity? number How much of what lies behind its surface it hides, 0.0..=1.0. Default 0.72.
---@field light_falloff? integer Light levels a block of it takes away, 0..=15. Default 0.
---@field washes? boolean Default true.

--- Registers a fluid. Every field given must hold a value in its range; nothing is replaced by
--- a default.
---
--- Refusals:
--- * "bad argument #1 to 'register_fluid' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_fluid: missing required field `id`"
--- * "register_fluid(\"<id>\"): unknown field `<field>`"
--- * the namespace refusal (for `id`, and for `material`)
--- * "register_fluid(\"<qualified>\"): missing required field `material`. A fluid is drawn as
---   a registered block; name the one it should look like."
--- * "register_fluid(\"<qualified>\"): waterlogs_at must be 1..=27, got <v>. It is how many of
---   a block's 27 cells must be filled before this fluid treats it as floor."
--- * "register_fluid(\"<qualified>\"): tick_rate must be 1..=255, got <v>. It is how many
---   simulation ticks pass between the fluid's updates."
--- * "register_fluid(\"<qualified>\"): tick_rate must be at least 1, got 0. A fluid that
---   updates every zeroth tick never moves, which reads as the engine ignoring the mod."
--- * "register_fluid(\"<qualified>\"): evaporates must be 0..=4294967295, got <v>. It is one in
---   how many fluid ticks a block open to the air loses a cell; 0 never."
--- * "register_fluid(\"<qualified>\"): bad field `color` (expected table, got <type>)"
--- * "register_fluid(\"<qualified>\"): color.<r|g|b> must be 0..=255, got <v>"
--- * "register_fluid(\"<qualified>\"): opacity must be 0.0..=1.0, got <v>. It is how much of
---   what is behind a surface of this fluid it hides — 1.0 for lava, 0.72 for water."
--- * "register_fluid(\"<qualified>\"): light_falloff must be 0..=15, got <v>. It is how many
---   levels of light a block of this fluid takes out of what reaches it; 0 is like air and 15
---   is pitch dark one block down."
--- * "fluid `<qualified>` is already registered"
--- A value of the wrong type is refused with its range text, `<v>` being its type name.
---@param def game.FluidDef
function game.register_fluid(def) end

-- ---- Domains and world generation ------------------------------------------------------------

---@class game.DomainPosition
---@field x number Whole blocks in the universe; an integer is taken exactly, a float cut toward zero; within 4000000000000000000.
---@field y number
---@field z number

---@class game.DomainDef
--- The domain id; unqualified ids get your prefix. The qualified id is at most 64 bytes of
--- ASCII letters, digits, "_" and ":".
---@field id string|number
---@field kind? "voxel"|"sparse" Default "voxel". A sparse domain holds no voxels.
---@field scale? number > 0, default 1.
---@field instanced? boolean A template from which instances are made.
---@field position? game.DomainPosition
--- Stored for terrain generation of this domain; this server version does not call it yet, so
--- its arguments are not settled. Not allowed for a sparse domain.
---@field generator? function

--- Registers a domain (a world space of its own).
---
--- Refusals:
--- * "bad argument #1 to 'register_domain' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_domain: missing required field `id`"
--- * "register_domain(\"<id>\"): unknown field `<field>`"
--- * the namespace refusal
--- * "register_domain(\"<qualified>\"): `<qualified>` is not a usable domain id: <reason>",
---   the reason being "longer than a domain id may be", "a registered id may not contain `/`,
---   which marks an instance" or "a domain id is ASCII letters, digits, `_` and `:`"
--- * "register_domain(\"<qualified>\"): `kind` is \"voxel\" or \"sparse\", not \"<kind>\""
--- * "register_domain(\"<qualified>\"): `scale` must be a positive number"
--- * "register_domain(\"<qualified>\"): bad field `position` (expected table, got <type>)"
--- * "register_domain(\"<qualified>\"): `position` needs `<x|y|z>`, a number of blocks in the
---   universe"
--- * "register_domain(\"<qualified>\"): `position.<x|y|z>` must be a finite number within
---   4000000000000000000 blocks, got <v>"
--- * "register_domain(\"<qualified>\"): `generator` is a function, not a <type>"
--- * "register_domain(\"<qualified>\"): a sparse domain holds no voxels, so a generator would
---   never run"
--- * "register_domain(\"<qualified>\"): already registered; a second registration would
---   silently replace the first"
---@param def game.DomainDef
function game.register_domain(def) end

--- Sets the mod's overworld generator, `handler(buf, pos)`: every mod's, in load order, fills
--- one chunk buffer (`buf`, the chunk buffer handle; keep it no longer than the call), so a later
--- mod's fills land over an earlier one's. `pos` is the chunk (`Ostrel.ChunkPos`). Calling it
--- again replaces the handler. `math.random` is seeded for the chunk and the mod; maps are
--- read-only during the call. A failure disables the mod; that chunk is air until next loaded.
---
--- Refusals: "bad argument #1 to 'register_on_generate' (expected function, got <type>)";
--- "mod `<mod>`: registration is closed".
---@param handler fun(buf: any, pos: Ostrel.ChunkPos)
function game.register_on_generate(handler) end

--- Sets the mod's chunk tint, `handler(pos)`, asked whenever a chunk is generated or served:
--- nil (no opinion) or three numbers r, g, b, multipliers of 0 to about 2 (1 leaves a tinted
--- material as drawn). The last mod (in load order) that answers wins. Anything else, or an
--- error, disables the mod: "a tint is three numbers, r, g, b: <why>".
---
--- Refusals: "bad argument #1 to 'register_chunk_tint' (expected function, got <type>)";
--- "mod `<mod>`: registration is closed"; "mod `<mod>`: one register_chunk_tint per mod".
---@param handler fun(pos: Ostrel.ChunkPos): number|nil, number|nil, number|nil
function game.register_chunk_tint(handler) end

--- Sets the mod's chunk fog, `handler(pos)`: nil (no fog of this mod's) or a table with
--- `visibility` (blocks a player sees into it, 1 to 65535) and optional `r`, `g`, `b` (0 to 1,
--- default 1), `top` and `bottom` (world heights it lies under and over). The last mod that
--- answers wins. A bad answer disables the mod: "a fog is a table with a `visibility`, or nil for
--- none", "a fog needs a `visibility`: how many blocks a player sees into it", "a fog's `<field>`
--- is a number".
---
--- Refusals: as register_chunk_tint's, with "mod `<mod>`: one register_chunk_fog per mod".
---@param handler fun(pos: Ostrel.ChunkPos): table|nil
function game.register_chunk_fog(handler) end

-- ---- Periodic handlers (one per mod; a repeat replaces the handler) --------------------------

--- Sets the handler called once every simulation tick with the number of ticks since its last
--- call. Its answer is ignored. Calling it again replaces the handler.
---
--- Refusals: "bad argument #1 to 'register_on_tick' (expected function, got <type>)";
--- "mod `<mod>`: registration is closed".
---@param handler fun(dt_ticks: integer)
function game.register_on_tick(handler) end

--- Sets the handler that steps this mod's entities: called once for each entity, each call
--- with a whole budget of its own. Its answer is ignored. Calling it again replaces the
--- handler.
---
--- Refusals: "bad argument #1 to 'register_on_entity_step' (expected function, got <type>)";
--- "mod `<mod>`: registration is closed".
---@param handler fun(entity: integer, dt_ticks: integer)
function game.register_on_entity_step(handler) end

--- Sets the handler of the once-a-world pre-pass, run once for a world under 1024 ordinary
--- budgets. It takes no arguments and its answer is ignored. Calling it again
--- replaces the handler.
---
--- Refusals: "bad argument #1 to 'register_on_world_init' (expected function, got <type>)";
--- "mod `<mod>`: registration is closed".
---@param handler fun()
function game.register_on_world_init(handler) end

---@class game.RandomTickEvent
---@field x integer
---@field y integer
---@field z integer
---@field material integer

--- Sets the handler of the random ticks of one block: the engine picks blocks of that material
--- at random and calls it. One handler per material across all mods. Its answer is ignored.
---
--- Refusals, in order:
--- * "bad argument #2 to 'register_random_tick' (expected function, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * the `game.Material` refusals
--- * "mod `<mod>`: material <n> is not a registered block; a random tick runs on blocks a mod
---   registers"
--- * "mod `<mod>`: a random tick is already registered for that material; one handler per
---   material"
---@param material game.Material
---@param handler fun(event: game.RandomTickEvent)
function game.register_random_tick(material, handler) end

-- ---- Cancellable hooks -----------------------------------------------------------------------
--
-- Each mod registers at most one handler per hook (`on_use`: one with `materials` and one
-- without). Handlers are asked in the order they were registered, each under its own budget,
-- each with its own copy of the event table; the answer (`game.Answer`) can refuse the action. A handler that
-- fails disables its mod and the action proceeds. `on_player_move` and `on_dismount` only
-- observe: every handler is asked and a refusal is not read.
--
-- Refusals shared by every `register_on_*` function below:
-- * "bad argument #1 to 'register_on_<hook>' (expected function, got <type>)"
-- * "bad argument #2 to 'register_on_<hook>' (expected table, got <type>)"
-- * "mod `<mod>`: registration is closed"
-- * "mod `<mod>`: `register_on_<hook>` takes no options" (any options table, but for `on_use`)
-- * "mod `<mod>` already registered `on_<hook>`. One callback per hook per mod — combine them
--   into one function."

---@class game.DigEvent: game.PlayerEvent
---@field domain string
---@field x integer Sub-node cell coordinates (three cells a block on each axis).
---@field y integer
---@field z integer
---@field material integer
---@field brush "block"|"subnode"|"whole"

--- Asked when a player finishes a dig. A table answer may set the `drops`.
---@param handler fun(event: game.DigEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_dig_complete(handler, options) end

--- Asked when a player starts a dig.
---@param handler fun(event: game.DigEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_dig_start(handler, options) end

---@class game.PlaceEvent: game.PlayerEvent
---@field domain string
---@field x integer
---@field y integer
---@field z integer
---@field material integer
---@field occupancy integer The 27-bit mask of the cells it would fill.
---@field units integer What it would cost.
---@field swept boolean
---@field cells? integer[] 27 material numbers, for a cut of several materials.

--- Asked when a player places something.
---@param handler fun(event: game.PlaceEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_place(handler, options) end

---@class game.PunchEvent: game.PlayerEvent
---@field attacker string The punching player (the same as `player`).
---@field target integer The entity punched.
---@field owner? string The player attached to the target, when there is one.

--- Asked when a player punches an entity.
---@param handler fun(event: game.PunchEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_punch(handler, options) end

---@class game.UseEvent: game.PlayerEvent
---@field domain string
---@field held game.Stack|nil What the player holds; nil for an empty hand.
---@field x? integer Cell coordinates (three a block on each axis) of the cell used; absent for a use at nothing.
---@field y? integer
---@field z? integer
---@field material? integer The material of the cell used; absent for a use at nothing.

---@class game.UseOptions
--- Ask this handler only for uses at these blocks (ids; unqualified names get your prefix).
--- Such a handler is asked before every handler registered without `materials`.
---@field materials? string[]
--- Also ask this handler (registered without `materials`) for a use at nothing.
---@field anywhere? boolean

--- Asked when a player uses a block (or, with `anywhere`, nothing). A mod may register twice:
--- once with `materials` and once without.
---
--- Refusals beyond the shared ones:
--- * "mod `<mod>`: `register_on_use` has no option `<key>`" (or "no option of type <type>")
--- * "mod `<mod>`: `anywhere` is true or false, not <type>"
--- * "mod `<mod>`: `materials` is a list of block ids, not <type>"
--- * "mod `<mod>`: every entry of `materials` is a block id string"
--- * "mod `<mod>`: `materials` names no blocks; leave it out to hear every use"
--- * "mod `<mod>`: `anywhere` is for the handler with no `materials` — a listed `on_use` is
---   asked only at its blocks, never at nothing"
--- * "mod `<mod>` already registered a listed `on_use` (one with `materials`). `on_use` may be
---   registered twice — once with `materials`, once without — and no more; combine your listed
---   handlers into the one call." (and the same for "an unlisted `on_use` (one with no
---   `materials`)")
--- A listed block that no mod registers is logged once registration closes.
---@param handler fun(event: game.UseEvent): game.Answer
---@param options? game.UseOptions
function game.register_on_use(handler, options) end

---@class game.UseEntityEvent: game.PlayerEvent
---@field target integer The entity used.
---@field owner? string The player attached to the target, when there is one.
---@field held game.Stack|nil What the player holds; nil for an empty hand.

--- Asked when a player uses an entity.
---@param handler fun(event: game.UseEntityEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_use_entity(handler, options) end

---@class game.FluidFlowEvent
---@field from game.Xyz The block the fluid is in.
---@field into game.Xyz The block it could not enter.
---@field fluid string
---@field volume integer Cells of 27 it presses with.
---@field occupancy integer 27-bit mask of the filled cells of the blocking block.
---@field units integer How many cells of the blocking block are filled.
---@field block? string The blocking block's id, when it is a registered one.
---@field meets? string Another fluid standing in `into`.

--- Asked when a fluid is blocked from flowing into a block.
---@param handler fun(event: game.FluidFlowEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_fluid_flow(handler, options) end

---@class game.MoveEvent: game.PlayerEvent
---@field x integer The block the feet are in now.
---@field y integer
---@field z integer
---@field domain string
---@field from? game.Xyz The block reported before, if any.

--- Told when a player moves into another block. Observes only: the answer is not read as a
--- refusal.
---@param handler fun(event: game.MoveEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_player_move(handler, options) end

---@class game.DismountEvent: game.PlayerEvent
---@field entity integer The mount (it may be gone).
---@field reason "sneak"|"dismount"|"gone"|"leave"
---@field domain string
---@field x number Where the rider was put, in blocks.
---@field y number
---@field z number

--- Told when a rider leaves a mount. Observes only: the answer is not read as a refusal.
---@param handler fun(event: game.DismountEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_dismount(handler, options) end

---@class game.JoinEvent: game.PlayerEvent
---@field name string The player's display name on this server.

--- Asked when a player joins.
---@param handler fun(event: game.JoinEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_player_join(handler, options) end

--- Asked when a player leaves. The player's setting answers are dropped afterwards.
---@param handler fun(event: game.JoinEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_player_leave(handler, options) end

---@class game.DomainEvent
---@field entity integer
---@field from string The domain left.
---@field to string The domain entered.

--- Asked when an entity leaves a domain.
---@param handler fun(event: game.DomainEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_domain_exit(handler, options) end

--- Asked when an entity enters a domain.
---@param handler fun(event: game.DomainEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_domain_enter(handler, options) end

---@class game.ActionEvent: game.PlayerEvent
---@field id string The action's id.
---@field pressed boolean True for a press, false for a release.

--- Asked when a player presses or releases a key action (see `game.register_action`).
---@param handler fun(event: game.ActionEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_action(handler, options) end

---@class game.ChatEvent: game.PlayerEvent
---@field text string

--- Asked when a player sends a chat line.
---@param handler fun(event: game.ChatEvent): game.Answer
---@param options? table None are accepted.
function game.register_on_chat(handler, options) end

---@class game.DialogEvent: game.PlayerEvent
---@field form string The dialog's name, qualified with your mod's id.
---@field kind "pressed"|"submitted"|"toggled"|"slid"|"chose"|"clicked"|"closed"|"chiselled"|"dropped"
---@field name? string The widget's name (every kind but "clicked", "closed" and "dropped").
---@field click? string "left", "right" or "double" for "pressed"; "left", "right", "shift_left" or "shift_right" for "clicked" and "dropped".
---@field text? string "submitted": the text.
---@field checked? boolean "toggled": the new state.
---@field value? integer "slid": the new value.
---@field index? integer "chose": the option chosen; "clicked": the slot; both from 1.
---@field view? string "clicked": the inventory view.
---@field shape? integer "chiselled": the 27-bit cell mask.
---@field cells? integer[] "chiselled": the cells' materials, when given.
---@field stack? game.Stack "dropped": what left the cursor.

--- Asked about the events of your mod's own dialogs; only the dialog's owner is asked.
--- Answer `true` when you took the event.
---@param handler fun(event: game.DialogEvent): boolean|nil
---@param options? table None are accepted.
function game.register_on_dialog_event(handler, options) end

-- ---- Inventory views and key actions --------------------------------------------------------

--- Fixes the number of slots of every player's main inventory view. Any mod may set it; a
--- second call with the same number is accepted.
---
--- Refusals:
--- * "bad argument #1 to 'set_main_slots' (<why>)"
--- * "mod `<mod>`: registration is closed"
--- * "set_main_slots(<n>): outside 1..=256"
--- * "set_main_slots(<n>): mod `<other>` already fixed the main view at <m> slots"
---@param slots integer 1..=256
function game.set_main_slots(slots) end

--- Sets the slot grain: the units a slot holds. Any mod may set it; a second call with the
--- same number is accepted.
---
--- Refusals:
--- * "bad argument #1 to 'set_slot_grain' (<why>)"
--- * "mod `<mod>`: registration is closed"
--- * "set_slot_grain(<n>): outside 1..=27"
--- * "set_slot_grain(<n>): mod `<other>` already set the grain to <m> units"
---@param units integer 1..=27
function game.set_slot_grain(units) end

---@class game.ViewDef
---@field id string|number The view id; unqualified ids get your prefix.
---@field slots integer 1..=256. Every slot of every view is sent to a client on any change.

--- Registers an inventory view.
---
--- Refusals:
--- * "bad argument #1 to 'register_view' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_view: missing required field `id`"
--- * the namespace refusal
--- * "register_view: missing required field `slots`" (also when it is not an integer)
--- * "register_view(\"<qualified>\"): <n> slots, which is outside 1..=256. Every slot of every
---   view is sent to a client on any change."
--- * "register_view(\"<qualified>\"): already registered"
---@param def game.ViewDef
function game.register_view(def) end

---@class game.ActionDef
---@field id string The action id; unqualified ids get your prefix. Required.
---@field description? string Shown to the player when binding keys.
---@field default_key? string The key bound until the player chooses another.

--- Registers a key action players can bind; presses reach `register_on_action`.
---
--- Refusals:
--- * "bad argument #1 to 'register_action' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_action: bad field `id` (expected string, got nil)" (or the wrong type given)
--- * the namespace refusal
--- * "register_action: bad field `description` (<why>)", likewise `default_key`
--- * "register_action(\"<qualified>\"): already registered"
---@param def game.ActionDef
function game.register_action(def) end

---@class game.HudScriptDef
---@field file string Path of the script, relative to your mod's directory.
---@field reserve? number HUD canvas pixels kept clear at the bottom, cut to 0..=540. Default 0.

--- Sets your mod's HUD script, sent to clients. One per mod: a second call replaces the first.
--- The file must exist in your mod's directory.
---
--- Refusals:
--- * "mod `<mod>`: registration is closed"
--- * "mod `<mod>`: register_hud_script wants a file name or a table with one in it, not a <type>"
--- * "register_hud_script: the file name is not valid UTF-8 text"
--- * "register_hud_script: bad field `file` (expected string, got nil)" (or the wrong type)
--- * "register_hud_script: bad field `reserve` (<why>)"
--- * the path and missing-file refusals, named "register_hud_script"
---@param file string|game.HudScriptDef
function game.register_hud_script(file) end

-- ---- Sky and clouds --------------------------------------------------------------------------

---@class game.SkyGrade
---@field exposure? number 0..=4, default 1.
---@field contrast? number 0..=4, default 1.
---@field saturation? number 0..=4, default 1.
---@field gamma? number 0.1..=4, default 1.
---@field tint? number[] {r, g, b}, each 0..=4; default {1, 1, 1}.
---@field offset? number[] {r, g, b}, each -1..=1; default {0, 0, 0}.

---@class game.SkyKeyframe
---@field time number Share of the day, 0..=1: 0 midnight, 0.5 noon.
---@field intensity number 0..=1.
---@field sky number[] {r, g, b}, three numbers.
---@field sun number[] {r, g, b}, three numbers.
---@field grade? game.SkyGrade
---@field stars? number 0..=1, default 0.

---@class game.SkyDef
---@field day_length_ticks integer Ticks in a day, at least 1. Required.
---@field keyframes game.SkyKeyframe[] At least one; sorted by time when read. Copied: changing the table later changes nothing.
---@field domain? string The domain this sky is for (up to 128 bytes, no white space); absent: every domain without a sky of its own.
---@field start_time? number Share of the day the world starts at (wrapped into 0..1); default 0.35.
---@field cave_fog? number[] {r, g, b} or {r = , g = , b = }, each cut to 0..1; default {0.05, 0.05, 0.06}.

--- Registers a sky. Your mod's second sky for the same domain replaces its first. When several
--- mods register a sky for one domain, a mod that is not a reference mod wins over one that is,
--- then the lowest mod id.
---
--- Refusals:
--- * "bad argument #1 to 'register_sky' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_sky: unknown field `<field>`"
--- * "register_sky: missing required field `day_length_ticks`" (also when it is not an
---   unsigned 32-bit integer)
--- * "register_sky: day_length_ticks must be at least 1; a day of no ticks never advances"
--- * "register_sky: missing required field `keyframes`"
--- * "register_sky: bad field `keyframes` (expected table, got <type>)" (an entry that is not a
---   table)
--- * "register_sky: every keyframe needs a `time`", "... an `intensity`", "... a `sky` colour",
---   "... a `sun` colour"
--- * "register_sky: keyframe time must be 0..=1, got <v>", likewise "keyframe intensity",
---   "keyframe stars"
--- * "register_sky: `sky` must be three numbers, {r, g, b}" (or `sun`)
--- * "register_sky: unknown `grade` field `<field>`"
--- * "register_sky: `grade.<name>` must be <lo>..=<hi>, got <v>"
--- * "register_sky: `grade.tint` must be three numbers, {r, g, b}" (or `grade.offset`)
--- * "register_sky: bad field `<field>` (<why>)" for a grade value, `stars`, `grade`, `domain`
---   or `start_time` of the wrong type
--- * "register_sky: `keyframes` is empty; a sky with no colours has nothing to draw"
--- * "register_sky: `domain` must be a domain id, got \"<text>\""
--- * "register_sky: start_time must be a number, 0..1" (not finite)
--- * "register_sky: `cave_fog` must be three numbers, {r, g, b}" and "register_sky: `cave_fog`
---   must be three numbers, {r, g, b}; `<r|g|b>` is missing or not a number"
---@param def game.SkyDef
function game.register_sky(def) end

---@class game.CloudDef
---@field base? number World y of the deck's floor, -30000..30000; default 256.
---@field thickness? number 0..1024; default 64.
---@field cell? number Blocks per cloud cube, 1..64; default 8.
---@field detail? integer Small cubes per edge, 1..4; default 1.
---@field frequency? number Cycles per block, above 0 and at most 1; default 1/600.
---@field octaves? integer 1..6; default 3.
---@field towers? number 0..1; default 0.
---@field drift? number[] {x, z} or {x = , z = }: blocks a second, each -64..64; default {0, 0}.
---@field evolve? number -1..1; default 0.
---@field colour? number[] Lit side, {r, g, b} or {r = , g = , b = }, each 0..2; default {1, 1, 1}.
---@field shade? number[] Unlit side, as `colour`; default {0.42, 0.44, 0.58}.

--- Registers the cloud deck. Values outside their range are brought into it (one that is not
--- finite takes the default). A second call by your mod replaces its first; among mods, the
--- same choice as `register_sky`.
---
--- Refusals:
--- * "bad argument #1 to 'register_clouds' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_clouds: unknown field `<field>`"
--- * "register_clouds: bad field `<field>` (<why>)" (a value of the wrong type; `detail` and
---   `octaves` must be integers 0..255)
--- * "register_clouds: bad element <i> (<why>)" (an element of `drift`, `colour` or `shade`)
---@param def game.CloudDef
function game.register_clouds(def) end

-- ---- Models, sounds, fonts and pictures ------------------------------------------------------

---@class game.ModelDef
--- The model id; unqualified ids get your prefix. An id in another mod's namespace is allowed:
--- it replaces that model's files.
---@field id string|number
---@field file string The model file, relative to your mod's directory; it must exist.
---@field scale? number Cut to 0.01..64; default 1 (also for a value that is not finite).
---@field texture? string The skin image (PNG), relative to your mod's directory; it must exist.

--- Registers a model (or replaces the files of one registered before). A server sends at most
--- 64 models.
---
--- Refusals:
--- * "bad argument #1 to 'register_model' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_model: unknown field `<field>`"
--- * "register_model: missing required field `id`", "... `file`"
--- * "register_model: bad field `scale` (<why>)", likewise `texture`
--- * the path and missing-file refusals, named "register_model"
--- * "register_model: `texture` is an image file beside your mod, got `<path>`. The client
---   decodes PNG."
--- * "register_model: a server may push at most 64 models"
---@param def game.ModelDef
function game.register_model(def) end

---@class game.SoundDef
---@field id string The sound id; unqualified ids get your prefix. Required.
---@field file string The sound file, relative to your mod's directory; it must exist. Required.
---@field gain? number Default 1.
---@field pitch_variance? number Default 0.

--- Registers a sound.
---
--- Refusals:
--- * "bad argument #1 to 'register_sound' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_sound: bad field `id` (expected string, got nil)" (or the wrong type), likewise
---   `file`, `gain`, `pitch_variance`
--- * the namespace refusal
--- * the path and missing-file refusals, named "register_sound"
---@param def game.SoundDef
function game.register_sound(def) end

--- Binds a sound to a cue the client plays. Both names without ":" get your prefix.
---
--- Refusals: "bad argument #1 to 'bind_sound' (expected string, got <type>)" (or #2; also
--- "expected UTF-8 text, got bytes that are not"); "mod `<mod>`: registration is closed".
---@param cue string
---@param sound string
function game.bind_sound(cue, sound) end

---@class game.FontDef
---@field id string The font id; unqualified ids get your prefix. Required.
---@field file string The font file, relative to your mod's directory; it must exist. Required.

--- Registers a font. A server sends at most 8 fonts.
---
--- Refusals:
--- * "bad argument #1 to 'register_font' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_font: bad field `id` (expected string, got nil)" (or the wrong type), likewise
---   `file`
--- * the namespace refusal
--- * the path and missing-file refusals, named "register_font"
--- * "mod `<mod>`: a server may push at most 8 fonts"
---@param def game.FontDef
function game.register_font(def) end

---@class game.PictureDef
---@field file string The picture (e.g. .png or .jpg), relative to your mod's directory; at most 16777216 bytes. Required.
---@field id? string The picture id; unqualified ids get your prefix. Default: the file path.

--- Registers a picture and returns its content hash (64 lowercase hex digits). A server sends
--- at most 512 pictures.
---
--- Refusals:
--- * "bad argument #1 to 'register_picture' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_picture: bad field `file` (expected string, got nil)" (or the wrong type),
---   likewise `id`
--- * the `content_hash` refusals, named "register_picture"
--- * the namespace refusal
--- * "mod `<mod>`: a server may push at most 512 pictures"
---@param def game.PictureDef
---@return string hash
function game.register_picture(def) end

--- The content hash (BLAKE3, 64 lowercase hex digits) of a file in your mod's directory that
--- clients may be sent. Works at any time.
---
--- Refusals:
--- * "bad argument #1 to 'content_hash' (expected string, got <type>)"
--- * "content_hash: path `<path>` is empty. Paths are relative to your mod's own directory."
---   (or "is absolute", "escapes the mod directory")
--- * "content_hash: mod `<mod>` has no directory to read from"
--- * "content_hash: `<path>` is not a file clients are sent — a picture is a .png or .jpg"
---   (files clients are sent end in .png, .jpg, .jpeg, .ogg, .wav, .glb, .gltf, .ttf, .otf,
---   .ttc, .json or .toml)
--- * "content_hash: `<path>` is not a file in mod `<mod>`'s directory: <why>"
--- * "content_hash: `<path>` is <n> bytes, and a client takes at most 16777216"
---@param file string
---@return string hash
function game.content_hash(file) end

-- ---- Player settings and world options -------------------------------------------------------

---@class game.SettingDef
---@field id string|number The setting id; unqualified ids get your prefix. Required.
---@field name? string Shown to the player; default the id as written.
---@field description? string Default "".
---@field options? string[] At least two choices; leave it out for a checkbox.
---@field default? integer A choice: the index of the default option, from 0 (cut to the last). A checkbox: 0 off, 1 (or more) on. Default 0.

--- Declares a setting each player chooses for themselves (a choice or a checkbox); read the
--- answer with `game.setting`.
---
--- Refusals:
--- * "bad argument #1 to 'register_setting' (expected table, got <type>)"
--- * "mod `<mod>`: registration is closed"
--- * "register_setting: `id`: expected string, got <type>"
--- * "register_setting(\"<id>\"): `options` is a list of strings, expected table, got <type>"
--- * "register_setting(\"<id>\"): `options[<i>]`: expected string, got <type>"
--- * "register_setting(\"<id>\"): a choice of one is not a choice. Leave `options` out for a
---   checkbox, or give at least two"
--- * the namespace refusal
--- * "<qualified> is declared in mod.toml; declare a setting once"
--- * "register_setting(\"<qualified>\"): already registered"
--- * "register_setting(\"<id>\"): `name`: <why>", likewise `description`, `default`
---@param def game.SettingDef
function game.register_setting(def) end

--- A player's answer to a setting: the chosen option's text for a choice, true or false for a
--- checkbox; the default while the player has not answered (or has left). Nil when no setting
--- has this id. Works for the settings of every mod, those declared in mod.toml included.
---
--- Refusals: "bad argument #1 to 'setting' (expected string, got <type>)" (or #2).
---@param player string The player, 64 lowercase hex digits.
---@param id string The setting's id in full, "<mod>:<setting>".
---@return string|boolean|nil
function game.setting(player, id) end

--- The value of a world option declared in a mod.toml: the chosen text, or true or false for a
--- toggle. Nil for an id no loaded mod declares.
---
--- Refusal: "bad argument #1 to 'world_option' (expected string, got <type>)".
---@param id string The option's id in full, "<mod>:<option>".
---@return string|boolean|nil
function game.world_option(id) end

-- ---- Exports between mods --------------------------------------------------------------------

--- Offers `api` to the mods that depend on yours. Call it once, with the table built, while
--- mods load. Later changes to the table are seen by readers.
---
--- Refusals:
--- * "bad argument #1 to 'export' (expected table, got <type>)"
--- * "mod `<mod>`: game.export is for the registration window; the registries are frozen"
--- * "mod `<mod>`: game.export was already called; export one table, built before you call it"
---@param api table
function game.export(api) end

--- The exports of `mod_id`, when your mod.toml lists it as a dependency (an optional one that
--- is present counts), it has loaded and called `game.export`, and it has not been disabled;
--- otherwise nil. The answer is a read-only view: reading works as on the table (`#`, `pairs`
--- and nested tables included; each read of a nested table gives a new view), writing raises
--- "the exports of `<mod>` are read-only (writing String(\"<key>\"))" (Integer(<n>) for an
--- integer key), and `getmetatable` answers "exports are read-only". Functions in it run the
--- owner's code; an error one raises is your call's error (catch it with `pcall`) and never
--- disables the owner (a spent budget fails your own entry). Functions of a disabled owner
--- return nothing.
---
--- Refusal: "bad argument #1 to 'exports' (expected string, got <type>)".
---@param mod_id string
---@return table|nil
function game.exports(mod_id) end

-- ---- Terrain generation ----------------------------------------------------------------------
--
-- Every number a generator's terrain depends on is computed natively, in single precision with
-- one rounding per operation, so every machine builds the same world: scripts describe fields
-- and shapes, the engine evaluates them. These functions work in every phase, while mods load
-- included, in every engine (each generation worker loads the mods itself). Their refusals are
-- Lua errors whose text is the message alone. Handles (`Ostrel.Density`, `Ostrel.Map`,
-- `Ostrel.Heightmap`, `Ostrel.Schematic`, `Ostrel.Stream`) are opaque: build them once at load
-- and keep them; what they hold counts against your mods' memory limit.

---@class Ostrel.ChunkPos
---@field x integer Chunk coordinate.
---@field y integer
---@field z integer
---@field seed integer The world seed's 64 bits (a negative integer is a seed with its top bit set).
---@field domain string|nil

---@class Ostrel.NoiseOptions
---@field octaves integer|nil 1 to 16, default 4 (0 counts as 1, more than 16 as 16).
---@field frequency number|nil Default 0.02: features about 50 blocks across.
---@field lacunarity number|nil Frequency factor from one octave to the next, default 2.0.
---@field gain number|nil Weight factor from one octave to the next, default 0.5.

--- One node of a density field: a value at every point, solid where positive. `op` is one of
--- "const" (`value`), "x", "y", "z" (the world coordinate), "noise" (3D fractal noise: the noise
--- options, `stream` (a name; default "default"), `amplitude` (1.0), `stretch` ({x, y, z},
--- each default 1, above 0)), "noise2" (the same on the ground plane y = 0, no `stretch`),
--- "contour" (distance in blocks from the zero line of ground noise, capped at 256; `signed`
--- makes it negative where the noise is), "map" (`map`, a map handle: its value under the sample;
--- the map is read as it is when `game.density` runs), "abs" (`a`), "clamp" (`a`, `low` -1,
--- `high` 1), "add", "sub", "mul", "div", "min", "max" (`a`, `b`). Options that do not convert
--- take their defaults.
---@class Ostrel.DensityNode
---@field op string
---@field a Ostrel.DensityNode|nil
---@field b Ostrel.DensityNode|nil

---@class Ostrel.Density
local Density = {}
--- The number of operations the tree compiled to (one a node).
---@return integer
function Density:len() end
--- The field's value at one world position, for placing things (a fill evaluates whole chunks).
--- Refusals: "a seed must be a whole number, not <n>", "a seed must be an integer, not <kind>".
---@param x number
---@param y number
---@param z number
---@param seed integer The world seed, as `pos.seed` carries it.
---@return number
function Density:at(x, y, z, seed) end
--- An interval holding every value of the field over the chunk at `pos` (it may be wider than
--- the field's true range, never narrower): `all_solid` when low > 0, `all_empty` when high <= 0.
--- Refusal: "density:bounds wants the `pos` your generator was handed — it carries the world
--- seed, and a bound over a box cannot be computed without it".
---@param pos Ostrel.ChunkPos
---@return { low: number, high: number, all_solid: boolean, all_empty: boolean }
function Density:bounds(pos) end

--- Compiles a density tree once into a native program; keep the handle.
---
--- Refusals: "a density table may not nest more than 64 deep"; "every node in a density table
--- needs an `op` field"; "`<op>` is not a density operation. The list is: ..."; "a `<op>` node
--- needs a `<a|b>` field"; "a noise node's `stretch` is a table: { x = 1, y = 4, z = 1 }"; "a
--- noise node's `stretch.<axis>` is a number"; "a `noise2` node takes no `stretch`; stretch is a
--- `noise` option" (likewise `contour`); "a `map` node needs a `map` field holding a map"; "a
--- `map` node's `map` field is not a map"; the map's own refusals; "a density program may hold at
--- most 4096 operations, not <n>"; "a density program may use at most 16 buffers at once, not
--- <n>"; "a density program may not contain <what>, which is not a finite number"; "a noise
--- stretch must be greater than zero, not <n>".
---@param spec Ostrel.DensityNode
---@return Ostrel.Density
function game.density(spec) end

---@class Ostrel.Heightmap
local Heightmap = {}
--- The number of columns: 256, one a column of a chunk (x + 16 z). Scripts cannot read heights.
---@return integer
function Heightmap:len() end

--- One chunk's surface from 2D fractal noise: each column's height is the noise times
--- `amplitude` (default 6), cut toward zero, plus `base` (default 0), in world blocks. `pos`
--- needs `x`, `y` and `z`; its `seed` (default 0) picks the noise.
---@param pos Ostrel.ChunkPos
---@param options Ostrel.NoiseOptions|{ amplitude: number|nil, base: integer|nil }
---@return Ostrel.Heightmap
function game.noise_heightmap(pos, options) end

--- A heightmap of 256 columns of one height.
---@param height integer
---@return Ostrel.Heightmap
function game.flat_heightmap(height) end

---@class Ostrel.Map
local Map = {}
---@return integer
function Map:side() end
---@return integer Blocks per sample.
function Map:scale() end
--- Every sample becomes fractal noise at its world position times `amplitude` (default 1). The
--- seed (default 0) is used as given, not mixed with the world seed.
---@param options Ostrel.NoiseOptions|{ amplitude: number|nil, seed: integer|nil }
function Map:noise(options) end
--- Every sample becomes the density field's value at its world position on the plane `y`
--- (default 0), with `seed` (default 0). Refusal: "map:fill wants a density, from game.density".
---@param density Ostrel.Density
---@param options { y: number|nil, seed: integer|nil }|nil
function Map:fill(density, options) end
---@param by number Added to every sample.
function Map:offset(by) end
---@param by number Every sample is multiplied by it.
function Map:scale_by(by) end
--- Bounds every sample to [low, high]; NaN samples stay NaN. Refusal: "min > max, or either was
--- NaN. min = <low>, max = <high>".
---@param low number
---@param high number
function Map:clamp(low, high) end
--- A box blur of width 2 * radius + 1 along rows, then columns; beyond an edge the edge sample
--- repeats. Refusal: "a blur radius of <r> is wider than a map <side> samples across".
---@param radius integer
function Map:blur(radius) end
--- Merges `other` into this map sample by sample ("add", "mul", "min", "max"; min and max let a
--- NaN lose). Refusals: "`<how>` is not a way to combine two maps. The list is: add, mul, min,
--- max."; "a map cannot be combined with itself; use scale_by or offset"; "maps must match to
--- combine: <side> x <side> against <other> x <other>".
---@param other Ostrel.Map
---@param how "add"|"mul"|"min"|"max"
function Map:combine(other, how) end
--- The 256 column heights of the chunk column at `pos.x`, `pos.z`: the map's bilinear value,
--- rounded down (NaN gives 0). Beyond the map the nearest edge sample repeats.
---@param pos { x: integer, z: integer }
---@return Ostrel.Heightmap
function Map:heightmap(pos) end

--- Your mod's map of that name, made blank (all 0) when it does not exist or has another side,
--- scale or origin; handles fetched with the same values share one map. `side` is 1..=1024
--- samples (default 256), `scale` blocks a sample (default 16); a value that does not convert
--- takes its default. Maps that exist when the world's first `register_on_world_init` handler
--- returns are stored with the world. Any method on a map an internal failure interrupted fails
--- with "this map was poisoned by an earlier error".
---
--- Refusals: "game.map: missing required field `name`"; "a map may be 1 to 1024 samples a side,
--- not <side>"; "a map's scale must be at least one block a sample".
---@param spec { name: string, side: integer|nil, scale: integer|nil, origin_x: integer|nil, origin_z: integer|nil }
---@return Ostrel.Map
function game.map(spec) end

---@class Ostrel.Schematic
local Schematic = {}
--- The number of entries (one per material per block).
---@return integer
function Schematic:len() end

--- A structure from blocks already cut: each `{dx, dy, dz, material, mask}`, an offset from the
--- root (at most 256 blocks on each axis), a material id and the 27-bit mask of its cells
--- (cell x + 3y + 9z). Later entries land over earlier ones.
---
--- Refusals: "schematic: every block is `{dx, dy, dz, material, mask}`; entry <k> (<name>) is
--- missing or not an integer" (mask first; an offset outside 32 bits or a material above 65535
--- included); "schematic: a block's mask is a 27-bit cell mask, at least one cell"; "schematic:
--- block <i> lies more than 256 blocks from the root"; "schematic: no blocks".
---@param blocks integer[][]
---@return Ostrel.Schematic
function game.schematic(blocks) end

--- A structure cut natively from shapes, in blocks from the root: `kind` "path" (`points`, at
--- least two `{x, y, z, r}`), "ellipsoid" (`centre`, `radii`, three numbers each) or "cells"
--- (`at`, a block, and `mask`); each with `material` (0 carves), `priority` (default 0; the
--- higher wins a cell, the later at equal priority) and `rough` (default 0). Every number must be
--- finite, a shape may visit at most 16777216 cells (16777216 for the whole call) and reach at
--- most 256 blocks from the root.
---
--- Refusals: "schematic_shapes: shape <i>: <reason>" with "`material` is a block id", "`kind`
--- is \"path\", \"ellipsoid\" or \"cells\"", "no shape called `<kind>`", "`points` is a list", "a
--- path needs two points at least", "every point is `{x, y, z, r}`", "`<field>` is three
--- numbers", "every radius is above zero", "`mask` is a 27-bit cell mask", "every number of a
--- shape is finite, not <n>", "a shape may visit at most 16777216 cells, not <n>", "a shape may
--- reach at most 256 blocks from the root"; "schematic_shapes: the shapes visit more than
--- 16777216 cells in all; cut the structure into smaller ones"; "schematic_shapes: the shapes
--- cover no cell".
---@param shapes table[]
---@return Ostrel.Schematic
function game.schematic_shapes(shapes) end

--- Queues the schematic to be written into the running world with its root at `pos`, turned
--- `turn` quarter turns (one turn takes +x to -z), over the following ticks. True when queued;
--- false with no world (while mods load, in generators) or when too many stamps are waiting.
---
--- Refusals: "stamp_schematic: <reason>" with "`schematic` is one built by game.schematic or
--- game.schematic_shapes", "`pos` is a table of whole blocks, { x, y, z }", "`pos.<axis>` is a
--- whole block coordinate", "no option called `<key>`; the options are `domain` and `turn`",
--- "`domain` is a domain's id, as a string", "`domain` is a domain's id, not an empty string",
--- "`turn` is a whole number of quarter turns, 0 to 3", "`turn` is 0 to 3 quarter turns about
--- the vertical, not <n>", "`domain` names no domain: \"<id>\"", "block <i> lands past the edge
--- of the coordinates from `pos`".
---@param schematic Ostrel.Schematic
---@param pos { x: integer, y: integer, z: integer, domain: string|nil }
---@param options { domain: string|nil, turn: integer|nil }|nil
---@return boolean
function game.stamp_schematic(schematic, pos, options) end

---@class Ostrel.Stream
local Stream = {}
--- A uniform integer in 0..bound-1 (0 for a bound of 0, which draws nothing).
---@param bound integer
---@return integer
function Stream:below(bound) end
---@return boolean
function Stream:next_bool() end

--- A random stream that is a pure function of `pos.x`, `pos.y`, `pos.z`, `pos.seed` (default 0)
--- and `name`: the same on every machine; streams of other names are unrelated. Each call starts
--- a new stream at its beginning.
---
--- Refusals: "a seed must be an integer, not <kind>", "a seed must be a whole number, not <n>".
---@param pos Ostrel.ChunkPos
---@param name string
---@return Ostrel.Stream
function game.rng_stream(pos, name) end

-- ---- Entities, players, mounts, domains, sight and paths -------------------------------------
--
-- Like the block functions below, these exist from the first line of init.lua and reach the
-- world only while the server runs it; until then each gives its empty answer, named with it.
-- Points are tables of numbers `x`, `y`, `z` in blocks (fractions kept) and, where said, an
-- optional `domain`. Entity ids are integers holding all 64 bits (a float only when it is a
-- whole number 0 to 2^64); refusals: "an entity id must be an integer, not <kind>", "an entity
-- id must be a whole number, not <n>". Players are 64 hex digits, either case; refusal: "<fn>
-- takes a player UUID in hex, as a hook event reports one". A missing or mistyped field is
-- "<fn>: bad field `<field>` (<why>)". The world's blocks run from -60000 to 59999 on each axis.
--
-- The five entity functions fail with "the entity store is poisoned; the simulation thread
-- panicked" when the server behind them failed; the player, mount, domain and steering
-- functions answer empty instead.

---@class game.Point
---@field x number
---@field y number
---@field z number
---@field domain? string Absent or "" is "overworld".

---@class game.SpawnSpec
---@field pos game.Point Always spawned in the overworld: a `domain` here is not read (move it with transfer_entity).
---@field model? string
---@field item? table A stack table: what the entity is, lying on the ground.
---@field health? integer Current and maximum.
---@field speed? number Multiplier of its drive, 0 to 16; default 1.
---@field nametag? string
---@field nametag_player? string A player's id: the tag shows that player's name (wins over `nametag`).
---@field collider? { width: number, height: number } In cells, each above 0 and at most 48; without one the entity is a marker that neither falls nor collides.

---@class game.EntityTable
---@field pos game.Xyz Blocks (numbers).
---@field yaw number Radians.
---@field pitch number Radians.
---@field facing game.Xyz Unit look direction: x = sin(yaw), z = cos(yaw) at pitch 0.
---@field velocity game.Xyz Cells per tick.
---@field on_ground boolean
---@field submerged number 0 to 1.
---@field fell number Blocks fallen, on the tick it landed.
---@field source string The spawning mod, or "engine:player" for a player's body.
---@field model? string
---@field item? game.Stack
---@field anim integer 0 to 255.
---@field tint { r: number, g: number, b: number } Each 0 to 1; 1, 1, 1 untinted. A flash is not reported.
---@field owner? string
---@field nametag? string
---@field nametag_player? string
---@field health? integer
---@field max_health? integer

---@class game.SetSpec
---@field pos? game.Point Blocks; a point that is not finite or lies outside the world is not applied.
---@field velocity? game.Xyz Cells per tick.
---@field yaw? number
---@field pitch? number
---@field health? integer At most the entity's maximum; ignored without health.
---@field speed? number 0 to 16.
---@field tint? false|{ r: number?, g: number?, b: number? } false: untinted; a table (channels 0..=1, absent 1) is the base tint, or a flash with `tint_ticks`.
---@field tint_ticks? integer A flash over that many ticks (at most 65535); 0 or absent: the base tint.
---@field anim? integer 0 to 255.
---@field drive? { walk: { x: number, z: number }?, gait: "walk"|"sprint"|"sneak"|nil, jump: boolean? } Replaces the whole drive.

--- Puts a new entity into the overworld; its id, or nil (no world, a position outside the world).
---
--- Refusals: "spawn_entity was given a position that is not a number"; "spawn_entity: `speed`
--- is a multiplier from 0 to 16, got <n>"; "nametag_player takes a player UUID in hex, as
--- `game.entity` reports one"; "spawn_entity: `collider` is { width, height } in cells, each
--- above 0 and at most 48".
---@param spec game.SpawnSpec
---@return integer?
function game.spawn_entity(spec) end

--- Removes a live entity; true once, false after (and for a player's body, which only its player
--- takes away). Its rider gets off, heard by `on_dismount` with "gone". The id is read before the
--- world is looked at, so a malformed id fails even without one.
---@param id integer
---@return boolean
function game.despawn_entity(id) end

--- A copy of the entity, or nil for an id that names nothing live (never a later entity in the
--- same slot).
---@param id integer
---@return game.EntityTable?
function game.entity(id) end

--- Applies the table's entries; true when any was applied (even to the same value). A player's
--- body is rewritten from its player every tick: use move_player and push_player for players.
---
--- Refusals: "set_entity: `speed` is a multiplier from 0 to 16, got <n>"; "set_entity: `tint` is
--- { r, g, b } in 0..=1, or false, not a <type>"; "set_entity: tint.<c> must be 0..=1, got <v>";
--- "set_entity: unknown gait `<name>`; expected walk, sprint or sneak".
---@param id integer
---@param spec game.SetSpec
---@return boolean
function game.set_entity(id, spec) end

--- The live entities of `pos.domain` within `radius` blocks of `pos`, nearest first (equal
--- distances in slot order); only those of `source` when given. A negative radius finds what its
--- size finds; NaN finds nothing. `{}` without a world.
---@param pos game.Point
---@param radius number
---@param source? string
---@return integer[]
function game.entities_in_radius(pos, radius, source) end

--- The entity that is a connected player's body (it changes at every join); nil otherwise.
---@param player string
---@return integer?
function game.player_entity(player) end

--- Teleports a connected player within their domain; the velocity becomes 0 and a rider gets off
--- ("dismount"). False outside the world or for a player who is not here.
---
--- Refusal: "game.move_player was given a position that is not a number".
---@param player string
---@param pos game.Xyz
---@return boolean
function game.move_player(player, pos) end

--- Selects a hot-bar slot on the player's client (zero-based, a fraction cut); true when sent.
---
--- Refusal: "game.select_slot: slot must be 0 or more and fit in a u16, got <n>".
---@param player string
---@param slot integer
---@return boolean
function game.select_slot(player, slot) end

--- Adds an impulse in cells per tick to the player's velocity (upward takes them off the ground);
--- a rider's push moves the mount. True when applied.
---
--- Refusal: "game.push_player was given an impulse that is not a number".
---@param player string
---@param impulse game.Xyz
---@return boolean
function game.push_player(player, impulse) end

--- What a player may do; nil restores every default. Fields: `fly` (false), `operator_fly`
--- (true: the operator list may still grant flight), `speed` (1; at most 16, 0 roots), `sprint`
--- (true), `wind_sky` (true: the client's sky keys), `gravity` (1; at most 4, 0 floats). A field
--- of another type takes its default. Equal values twice send the client nothing.
---
--- Refusals: "set_player_abilities: unknown field `<key>`. The fields are [\"fly\",
--- \"operator_fly\", \"speed\", \"sprint\", \"wind_sky\", \"gravity\"]."; "set_player_abilities:
--- `speed` is a multiplier of 0 or more, got <n>. 1 is unchanged and 0 is rooted.";
--- "set_player_abilities: `gravity` must be a number: <why>"; "set_player_abilities: `gravity` is
--- a multiplier of 0 or more, got <n>. 1 is unchanged and 0 floats.".
---@param player string
---@param abilities? { fly: boolean?, operator_fly: boolean?, speed: number?, sprint: boolean?, wind_sky: boolean?, gravity: number? }
---@return boolean
function game.set_player_abilities(player, abilities) end

--- Seats a player on an entity: true, or nil and one of "not connected", "no such entity", "a
--- player", "no collider", "another domain", "ridden", "already riding". Asking again for the
--- same mount moves the seat. `seat` is in blocks from the mount's feet as if it faced +z (absent
--- axes 0; absent seat: on top); `sneak_dismounts` (true) lets the sneak key get off.
---
--- Refusals: "game.mount: unknown option `<key>`. The options are [\"seat\",
--- \"sneak_dismounts\"]."; "game.mount: `seat` is { x, y, z } in blocks from the mount's feet,
--- each a number no further than 16 away, got [<x>, <y>, <z>] blocks".
---@param player string
---@param entity integer
---@param options? { seat: { x: number?, y: number?, z: number? }?, sneak_dismounts: boolean? }
---@return true|nil, string?
function game.mount(player, entity, options) end

--- Takes the player off; true when they were riding. `on_dismount` hears it later in the tick.
---@param player string
---@return boolean
function game.dismount(player) end

--- The entity the player rides, or nil.
---@param player string
---@return integer?
function game.mounted(player) end

--- Asks for an entity (a player's body too) to move into another domain at `pos`; true when
--- accepted (a live entity, a live domain, a place inside the world). The tick carries it out,
--- with `on_domain_exit` and `on_domain_enter`, which may still refuse it.
---
--- Refusals: "game.transfer_entity was given a position that is not a number";
--- "game.transfer_entity was given no domain to move into".
---@param id integer
---@param domain string
---@param pos game.Xyz
---@return boolean
function game.transfer_entity(id, domain, pos) end

--- Makes (or finds again) the instance "<template>/<key>" of an instanced template; its id, or nil
--- for a bad key (1 to 64 ASCII letters, digits and `_`) or a template that is not instanced (the
--- reason goes to the server log). An instance that exists keeps its position and sky.
---
--- Refusals: "create_domain: `position` needs `<axis>`, a number of blocks in the universe";
--- "create_domain: `position.<axis>` must be a finite number within 4e18 blocks, got <n>";
--- "create_domain: `sky` must be a sky table"; the sky table's own refusals.
---@param template string
---@param key string
---@param options? { position: game.DomainPosition?, sky: table? }
---@return string?
function game.create_domain(template, key, options) end

--- Queues an instance for removal after the tick's transfers; true for an instance. The removal
--- is refused (and logged) while anything is still inside.
---@param id string
---@return boolean
function game.destroy_domain(id) end

--- Sets a live domain's own sky, or with nil returns it to its registered one; false for a
--- template or an unknown id.
---@param id string
---@param sky? table
---@return boolean
function game.set_domain_sky(id, sky) end

--- The top of a column: scans down from `from` at most `depth` blocks (64; at most 256). nil
--- when nothing is found or there is no world. Over a pond (unless `skip_fluid`) the answer
--- carries the fluid's id and volume.
---@param q { x: integer, z: integer, from: integer, depth: integer?, skip_passable: boolean?, skip_fluid: boolean?, domain: string? }
---@return { y: integer, material: integer, occupancy: integer, fluid: integer?, volume: integer? }?
function game.surface_at(q) end

--- What a connected player's crosshair is on: a cell `{ x, y, z, domain, material, face }`
--- (cell coordinates, three to a block) or an entity `{ domain, entity, owner? }`; nil for the
--- sky, unloaded terrain or a player not here.
---@param player string
---@return table?
function game.looking_at(player) end

--- Whether `a` sees `b` (the domain is `a`'s): true clear, false blocked (also for ends more than
--- 64 blocks apart or terrain not loaded), nil without a world.
---@param a game.Point
---@param b game.Point
---@return boolean?
function game.line_of_sight(a, b) end

--- A walkable route from `a` to `b` in `a`'s domain: block centres `{ x + 0.5, y, z + 0.5 }`, start
--- first; or nil and "unreachable", "budget" or "no world". Options (each optional; a value that
--- does not read takes its default): `budget` (2000 expansions; at most 10000, shared by every
--- search of a tick), `height` (2), `step_up` (1), `max_drop` (3).
---@param a game.Point
---@param b game.Point
---@param options? { budget: integer?, height: integer?, step_up: integer?, max_drop: integer? }
---@return { x: number, y: number, z: number }[]|nil, string?
function game.find_path(a, b, options) end

--- Drives an entity one tick toward `target` (in the target's domain): its drive becomes the
--- direction, the gait ("sprint" or "sneak" exactly, else walk) and a jump where a step needs one.
--- True while going, false once arrived, nil for an entity that is gone or no world.
---@param id integer
---@param target game.Point
---@param gait? string
---@return boolean?
function game.steer_entity(id, target, gait) end

--- The heading of the ground direction (dx, dz) in radians, -pi to pi: 0 along +z, pi/2 along
--- +x; the inverse of an entity's `facing`. The same bits on every machine; 0 for (0, 0) or a
--- value that is not finite.
---@param dx number
---@param dz number
---@return number
function game.heading(dx, dz) end

-- ---- The running world (hooks and ticks) -----------------------------------------------------
--
-- These functions exist from the first line of init.lua, in every engine, but reach the world
-- only once the server is running it: at the top of init.lua, in `on_world_init`, in a
-- generation handler and in `--check-mods` they give their empty answers (nil, false, zeros, an
-- empty table) and never fail for that. A malformed argument is an error naming the function,
-- raised before anything is read or written.
--
-- Block positions are tables of whole block coordinates `x`, `y`, `z` (numbers only: 1.5 is
-- block 1, -1.5 is block -1; a text, NaN or anything outside -2^31..2^31-1 is refused with
-- "<function>: bad field `x` (<why>)") and an optional `domain` (absent or "" is "overworld").
--
-- An internal failure of the server behind one of these functions makes the calls that reach it
-- fail with a text saying so ("the world lease is poisoned; the simulation thread panicked", "the
-- edit queue is poisoned; ...", "the fluid store is poisoned; ...", "the light store is poisoned;
-- ...", "the mod storage is poisoned; the simulation panicked").

--- A whole block position, with its domain.
---@class game.BlockPos
---@field x integer
---@field y integer
---@field z integer
---@field domain? string Absent or "" is "overworld".

---@class game.BlockReading
---@field material? integer The block's material (absent when its cells hold several).
---@field cells? integer[] 27 cell materials, entry i being cell i - 1 (cell x + 3y + 9z); only for a block of several materials.
---@field occupancy integer The 27-bit mask of the cells that hold something: 0 for air, 134217727 for a whole block.

--- Blocks along a chunk edge.
---@type integer
game.CHUNK_BLOCKS = 16
---@type integer
game.UNITS_PER_BLOCK = 27
--- The 27-bit mask of a whole block, 0x7FFFFFF.
---@type integer
game.OCCUPANCY_FULL = 134217727
---@type integer
game.ITEMS_PER_STACK = 90
--- The material number of air.
---@type integer
game.AIR = 0
--- This mod's id, as its manifest gives it.
---@type string
game.mod_id = ""

--- What the block holds now. nil when its chunk is not loaded (never generated for the asking)
--- or its domain is unknown; air reads as { material = 0, occupancy = 0 }.
---@param pos game.BlockPos
---@return game.BlockReading?
function game.get_block(pos) end

--- Queues a write of a registered block for the next tick (a `get_block` in the same hook still
--- reads the old block); "engine:air" clears. With `occupancy` other than 134217727 only those
--- cells get the block and the others become air, or keep what they hold with `merge` (any
--- value but nil and false). Answers whether the write was queued: false for a block nobody
--- registered, a full queue, or no running world.
---
--- Refusal: "set_block: occupancy 0x<hex> is not a 27-bit mask with a cell in it" (0, or a bit
--- at 27 or above).
---@param pos game.BlockPos
---@param block string A block id in full, such as "mymod:stone".
---@param occupancy? integer
---@param options? { merge?: any }
---@return boolean
function game.set_block(pos, block, occupancy, options) end

---@class game.FluidReading
---@field volume integer Cells of fluid, 0 to 27.
---@field empty boolean
---@field fluid? integer The fluid's id (as `game.fluid_id` answers); only when the block holds fluid.

--- The block's fluid; { volume = 0, empty = true } where there is none, its chunk is not loaded
--- or its domain has no fluid.
---@param pos game.BlockPos
---@return game.FluidReading
function game.get_fluid(pos) end

--- Replaces the block's fluid: `volume` cells (27 when absent or not a whole number from 0; at
--- most 27) of the fluid named in full. `volume = 0` empties the block whatever `fluid` says.
--- The fluid is not poured: what was there is gone, and a block that cannot hold the fluid is
--- emptied by the next fluid step. Answers whether the block changed (false for the same state,
--- a domain that no longer exists, or no running world, where nothing is checked).
---
--- Refusals: "set_fluid: missing required field `fluid`. Name the registered fluid to place, or
--- pass `volume = 0` to clear.", "set_fluid: no fluid registered as `<name>`" (the name is not
--- qualified for you: "water" is refused even when your mod registered "mymod:water").
---@param pos game.BlockPos
---@param spec { fluid?: string, volume?: integer }
---@return boolean
function game.set_fluid(pos, spec) end

--- The id of a registered fluid; a name without ":" is taken as your own ("water" is
--- "<your mod>:water"). nil for a name nobody registered, and while init.lua runs.
---@param name string
---@return integer?
function game.fluid_id(name) end

---@class game.LightReading
---@field sun integer 0 to 15.
---@field r integer 0 to 15.
---@field g integer 0 to 15.
---@field b integer 0 to 15.

--- The light in the block; all zeros where nothing is lit or loaded.
---@param pos game.BlockPos
---@return game.LightReading
function game.get_light(pos) end

-- ---- What players carry, held tools, containers --------------------------------------------
--
-- Players are named by their id, 64 hexadecimal digits as hook events report them (either case).
-- Slot numbers count from 1, as the screens number them. Items move in units (27 make a whole
-- block): whatever a give does not place is answered, so keep or drop it yourself; nothing is
-- made or lost between your mod and the server. Without a running world, in a generation handler
-- and under `--check-mods` every function gives its empty answer. An internal failure of the
-- server behind these functions reads as that empty answer too.

--- A stack to give or take. Name the material (`material`, a block id or a material number) and
--- the quantity (`units`, or `count` items, 1 when both are absent), or the 27 `cells` of a cut of
--- several materials. A stack table the engine reported is a valid spec for the same stack.
---@class game.StackSpec
---@field material? string|integer
---@field units? integer Wins over `count`.
---@field count? integer Items: whole blocks, or pieces of `shape`.
---@field shape? integer A 27-bit cell mask (bits above 27 are ignored; 0 is refused, 0x7FFFFFF is loose material).
---@field cells? (string|integer)[] 27 entries, entry i being cell i - 1; 0 for an empty cell.
---@field detail? string At most 256 bytes; a stack with a detail never matches one without.
---@field view? string The player's view (`give`, `take`); "player:main" when absent.
---@field slot? integer Only this slot, from 1; absent: any slot.

---@class game.SlotStack: game.Stack
---@field slot integer The slot it is in, from 1.

--- What the view holds, one entry per kind of stack (like stacks of several slots summed), empty
--- slots left out, in material order. `{}` for a player who is not connected or a view they lack.
---@param player string
---@param view? string "player:main" when absent.
---@return game.Stack[]
function game.inventory(player, view) end

--- Puts the stack into the player's view. With `slot`, all of it into that slot or nothing (an
--- empty slot, or one of the same kind with room; a slot holds 90 items, 2430 units of loose
--- material). Without, it tops up like stacks and fills empty slots. Answers whether everything
--- went in and the units left over: false and every unit for a player who is not connected;
--- false, 0 for a stack of nothing (count 0, units 0, material 0).
---
--- Refusals: "give takes a player UUID in hex, as a hook event reports one", the stack table's
--- texts, "container slots are numbered from 1, and 0 is not one of them".
---@param player string
---@param spec game.StackSpec
---@return boolean gave
---@return integer left
function game.give(player, spec) end

--- The stack in the player's selected hotbar slot of "player:main"; nil for an empty hand.
---@param player string
---@return game.Stack?
function game.held(player) end

--- The stack in slot `n` (from 1) of the player's view; nil for an empty slot, a slot past the
--- end or a view the player lacks.
---
--- Refusal: "game.slot: slots count from 1, as the screens number them" (n = 0).
---@param player string
---@param view string
---@param n integer
---@return game.Stack?
function game.slot(player, view, n) end

--- Takes up to the stack table's units of exactly that kind (material, shape, cells and detail) from the
--- view, slot by slot (or from `slot` only), and answers the units taken. Loose material never
--- comes out of a cut or a stack with a detail; registered items and cuts of several materials
--- come out in whole items only (10 units of a 27-unit item take 0).
---@param player string
---@param spec game.StackSpec
---@return integer taken
function game.take(player, spec) end

--- The id of the tool in the player's hand; nil for a bare hand or a player who is not connected.
---
--- Refusal: "get_tool takes a player UUID in hex, as a hook event reports one".
---@param player string
---@return string?
function game.get_tool(player) end

--- Puts a registered tool (nil: a bare hand) in the player's hand. False for an id no mod
--- registered (the hand is left as it was) and for a player who is not connected.
---
--- Refusal: "set_tool takes a player UUID in hex, as a hook event reports one".
---@param player string
---@param tool string?
---@return boolean
function game.set_tool(player, tool) end

--- Makes a container of `slots` empty slots under `name` unless one exists (it then keeps its
--- size, and the answer is false). Safe to call before every open. Containers are the world's,
--- saved with it, and shared by every mod: choose names that say where they are ("chest:1,2,3").
---
--- Refusals: "game.make_container needs a name; it is how the container is found again", "a
--- container has 1 to 256 slots, and this one asked for <n>".
---@param name string
---@param slots integer
---@return boolean made
function game.make_container(name, slots) end

--- Lends the container to the player as a view of the same name (for a dialog's item_grid).
--- False for a missing container, a player who is not connected, or one somebody else holds;
--- true again for its holder.
---@param name string
---@param player string
---@return boolean
function game.open_container(name, player) end

--- Takes the container back from its holder; true when its slots came back. The engine also
--- closes it when the player's screen closes and when the player leaves.
---@param name string
---@param player string
---@return boolean
function game.close_container(name, player) end

--- The occupied slots, each with its `slot`; `{}` for a missing container. Reads the holder's
--- view while the container is open.
---@param name string
---@return game.SlotStack[]
function game.container(name) end

--- Removes the container and answers its stacks, for you to drop where it stood. `{}` and
--- nothing removed for a missing container or one somebody holds (`container_holder` tells).
---@param name string
---@return game.Stack[]
function game.break_container(name) end

--- The player holding the container open, 64 lowercase hex digits; nil for nobody.
---@param name string
---@return string?
function game.container_holder(name) end

--- The names of the containers that begin with `prefix` ("" for all), in byte order.
---@param prefix string
---@return string[]
function game.containers(prefix) end

--- Puts the stack into the container (or its `slot` only) and answers the units that went in; 0
--- for a missing container. What did not go in is still yours.
---@param name string
---@param spec game.StackSpec
---@return integer moved
function game.container_give(name, spec) end

--- Takes up to the stack table's units of exactly that kind from the container (or its `slot` only);
--- answers the units taken.
---@param name string
---@param spec game.StackSpec
---@return integer taken
function game.container_take(name, spec) end

-- ---- Plans -----------------------------------------------------------------------------------
--
-- A plan is a captured box of blocks saved with the world under a name of your mod's; no other
-- mod can see or touch it. Scripts never hold a plan, only its name and summary. A failure inside
-- the server's plan store fails the call with "the plan store is poisoned; the simulation
-- panicked".

---@class game.PlanSummary
---@field size game.Xyz Extents in blocks.
---@field blocks integer Non-empty blocks.
---@field materials table<string, integer> Units (cells) of each block id.

game.plans = {}

--- Captures the box between two corners (either order, inclusive; the first corner's `domain`)
--- and saves it as `name`, replacing a plan of that name. Answers the summary, or nil and a
--- reason: "too big" (a side over 64 blocks), "too many blocks" (over 65536 filled), "not
--- loaded", "no world", "refused", "not saved".
---@param name string
---@param corner game.BlockPos
---@param other game.BlockPos
---@return game.PlanSummary?
---@return string? reason
function game.plans.capture(name, corner, other) end

--- Queues the plan to be written with its lowest corner at `pos`, a few hundred cells a tick.
--- Only its non-empty blocks are written. False for an unknown name or when too many stamps wait.
---@param name string
---@param pos game.BlockPos
---@return boolean
function game.plans.stamp(name, pos) end

--- The plan's summary; nil for an unknown name.
---@param name string
---@return game.PlanSummary?
function game.plans.info(name) end

--- Your plans' names, sorted.
---@return string[]
function game.plans.list() end

--- Deletes the plan; false when there was none.
---@param name string
---@return boolean
function game.plans.forget(name) end

--- Your mod's own key-value store, saved with the world (at the periodic saves and at
--- shutdown). No other mod can read or change it; two mods may use the same key apart.
game.storage = {}

--- The stored value: a string, a number (always a float: 5 comes back as 5.0) or a boolean;
--- nil for a key never set (and while no world runs).
---@param key string
---@return string|number|boolean|nil
function game.storage.get(key) end

--- Stores `value` under `key`; nil deletes the key. Integers are stored as the nearest float
--- (2^53 + 1 becomes 2^53). Keys are kept byte for byte; there is no limit on sizes or counts.
--- Without a running world nothing is stored and nothing refused.
---
--- Refusals: "storage.set: a <type> cannot be stored; use a string, a number or a boolean";
--- "storage.set: the value is not valid UTF-8 text; only UTF-8 strings can be stored".
---@param key string
---@param value string|number|boolean|nil
function game.storage.set(key, value) end

--- Your keys that begin with `prefix` (all of them when absent), in ascending byte order. Give
--- keys a prefix per kind of record ("owner:", "visits:") to list them cheaply.
---@param prefix? string
---@return string[]
function game.storage.keys(prefix) end

-- ---- Dialogs and hover lines ------------------------------------------------------------------
--
-- A dialog is data: a tree of widget tables, read and checked in full (even without a running
-- world, where the functions answer false) before one message goes to one player. Its form
-- name is qualified with your mod's id ("chest" is "<your mod>:chest"), and its events go to
-- your `on_dialog_event` handler alone. Every text must be valid UTF-8.
--
-- Limits: 32 levels (the root included), 4096 widgets, 1024 bytes per text (name, label,
-- button, checkbox, text input texts, each dropdown option, view), 256 bytes per tooltip, 256
-- dropdown options, 1024 grid slots, and 1048576 bytes for the whole dialog message. A table
-- used many times counts each time it is used.

---@class game.Style
---@field background? integer[] {r, g, b} or {r, g, b, a}, each 0 to 255; alpha 255 when three.
---@field border? integer[] As `background`.
---@field nine_slice? string|integer[] A picture's content hash (64 hex digits, or 32 bytes) drawn as a frame.
---@field text_colour? integer[] As `background`.
---@field text_size? integer Virtual pixels.
---@field font? string A registered font id, qualified with its mod's id.

---@class game.Widget
---@field type "container"|"label"|"button"|"image"|"text_input"|"checkbox"|"slider"|"dropdown"|"item_slot"|"item_grid"|"scroll"|"spacer"|"progress"|"shape_editor" Matched exactly.
---@field name? string What this widget's events carry.
---@field tooltip? string "" counts as none.
---@field style? game.Style
---@field grow? integer 0 to 65535: share of the parent's leftover space (default 0).
---@field size? integer 0 to 65535: fixed size along the parent's direction.
---@field cross_size? integer 0 to 65535: fixed size across it.
---@field children? game.Widget[] In order, under a widget of any kind.
---@field direction? "row"|"column" container; default "column".
---@field gap? integer container.
---@field padding? integer container.
---@field align? "start"|"center"|"end"|"stretch" container; default "start".
---@field text? string label, button, checkbox.
---@field hash? string|integer[] image, required: a content hash.
---@field initial? string text_input.
---@field placeholder? string text_input.
---@field checked? boolean checkbox; any value but nil and false is true.
---@field min? integer slider; default 0.
---@field max? integer slider; default 100.
---@field value? integer slider; default 0; within min..max.
---@field options? string[] dropdown, at most 256.
---@field selected? integer dropdown, from 1 (default the first).
---@field view? string item_slot and item_grid, required: an inventory view.
---@field index? integer item_slot, from 1.
---@field columns? integer item_grid; default 9.
---@field first? integer item_grid, from 1.
---@field count? integer item_grid: slots shown, at most 1024; default 0.
---@field permille? integer progress, 0 to 1000.
---@field material? integer shape_editor: the brush (default the lowest of `cells`, else 1).
---@field shape? integer shape_editor: the 27-bit cell mask (default every cell; with `cells`, theirs).
---@field cells? integer[] shape_editor: 27 material ids, 0 for an empty cell.

---@class game.DialogSpec
---@field player string The player's 64 hex digits.
---@field form string The dialog's name; "other:x" in another mod's namespace is refused.
---@field tree game.Widget The root widget; a table another mod exports may stand in it.
---@field compact? boolean A small prompt sized to its contents rather than a full screen.

--- Shows the dialog to the player. Answers true when it went out; false for a text that is not
--- a player id, a player whose queue is full, and without a running world.
---
--- Refusals (the dialog is not sent): "dialog widget: unknown field `<key>`", "dialog widget:
--- unknown type `<type>`", "dialog style: unknown field `<key>`", "dialog nests deeper than 32
--- widgets", "dialog has <n> widgets, over the limit of 4096", "dropdown options has <n> entries,
--- over the limit of 256", "dialog takes more than 1048576 bytes, the limit of one message",
--- "container direction must be `row` or `column`, not `<text>`", "container align must be
--- start, center, end or stretch, not `<text>`", "`<key>` wants three or four numbers, got <n>",
--- the shape editor's texts ("shape_editor: `cells` has <n> entries; ...", "shape_editor:
--- `cells[<i>]` is a material id, or 0 for an empty cell", "shape_editor: `shape` is <mask> but
--- its cells fill <mask>; ..."), the content hash texts, the limit texts ("a label of <n> bytes
--- is over the limit of 1024", "slider value <v> is outside <min>..=<max>", ...), and
--- "show_dialog: bad field `<key>` (<why>)" for a value of the wrong type or range.
---@param spec game.DialogSpec
---@return boolean
function game.show_dialog(spec) end

--- As `show_dialog`, replacing a dialog the player has open with the same form (one never shown
--- is shown).
---@param spec game.DialogSpec
---@return boolean
function game.update_dialog(spec) end

--- Closes the player's dialog. Answers whether it was open; the player is told to close it
--- either way.
---@param spec { player: string, form: string }
---@return boolean
function game.close_dialog(spec) end

--- Replaces every line the player sees under hovered stacks: `lines` maps a material (a block
--- id or a number 0 to 65535) to its line; nil clears them. Two keys naming one material keep
--- the line met later. Answers true when the lines went out.
---
--- Refusals: "set_hover: the line for material <id> is <n> bytes, over the cap of 256",
--- "set_hover: <n> lines, over the cap of 256", "set_hover: bad field `lines` (<why>)", and the
--- material texts ("material id <n> is out of range", "no block registered with id `<id>`",
--- "material must be a block id or a numeric material, got <value>").
---@param player string
---@param lines? table<string|integer, string>
---@return boolean
function game.set_hover(player, lines) end
-- ---- Weather, lightning and the stars -----------------------------------------------------
-- Weather is laid over one player's sky and changes nothing in the world. A standing value
-- (sky modifier, clouds, rainbow) is kept per player and sent once when it
-- changes, so setting the same weather every tick costs nothing; nil goes back to the plain sky.
-- A player who leaves is forgotten: set theirs again when they join. Numbers out of range are
-- clamped (NaN and infinities take the field's default). Player ids are 64 hex digits.

---@class game.Colour
---@field r? number Red, else element [1].
---@field g? number Green, else element [2].
---@field b? number Blue, else element [3].

---@class game.SkyModifier
---@field intensity? number The keyframes' intensity times this, 0 to 2 (1).
---@field sky? game.Colour Horizon and fog colour to mix towards, each 0 to 2 (a channel not given is 0).
---@field sky_mix? number How far towards `sky`, 0 to 1 (1 when `sky` is given, else 0).
---@field fog_distance? number The fog's reach times this, 0.05 to 4 (1).
---@field saturation? number The grade's saturation times this, 0 to 4 (1); `grade.saturation` wins.
---@field grade? { saturation?: number }
---@field stars? number Star brightness, 0 to 1, instead of the keyframes'.
---@field light_floor? number The least the frame is lit at, 0 to 1; outside that range is refused.
---@field ease_ticks? integer Ticks to ease in, at most 2400 (0).

--- Lays a modifier over the player's sky keyframes (nil clears it). Answers whether the player
--- was online; false, and nothing kept, otherwise or without a running world.
---
--- Refusals: "game.set_sky_modifier: `stars` is a number from 0 to 1, the brightness of the
--- stars"; "game.set_sky_modifier: `light_floor` is a number from 0 to 1, the least the frame is
--- lit at".
---@param player string
---@param modifier? game.SkyModifier
---@return boolean
function game.set_sky_modifier(player, modifier) end

---@class game.CloudMap
---@field origin { x: number, z: number } World x and z of the grid's corner.
---@field cell number Blocks a cell covers, above 0.
---@field size integer Cells a side, 1 to 16.
---@field cover number[] size * size shares 0 to 1, row by row along z (cell x, z is element z * size + x + 1).
---@field darkness number[] As `cover`.
---@field stratocumulus? number[] As `cover`; absent means none anywhere.
---@field altocumulus? number[]
---@field cumulonimbus? number[]

---@class game.Clouds
---@field cover? number 0 to 1 (0).
---@field darkness? number 0 to 1 (0).
---@field base? number The deck's floor for this player.
---@field ease_ticks? integer At most 2400 (0).
---@field stratocumulus? number 0 to 1 (0).
---@field altocumulus? number 0 to 1 (0).
---@field cumulonimbus? number 0 to 1 (0).
---@field map? game.CloudMap A coarse grid of weather; a call without one clears the last map.

--- The player's clouds (nil clears them and the map). Answers whether the player was online. A
--- map whose origin is not finite is dropped while the clouds are still set.
---
--- Refusals: "set_clouds: unknown field `<key>`. The fields are [...]." (also "... in `map`"),
--- "set_clouds: `map.size` is 1..=16, got <n>", "set_clouds: `map.cell` is how many blocks a
--- cell covers, got <n>", "set_clouds: `map.<layer>` holds <n> values for a <size> x <size>
--- grid, which wants <size * size>".
---@param player string
---@param spec? game.Clouds
---@return boolean
function game.set_clouds(player, spec) end

--- A rainbow opposite the player's sun (nil takes it down). Answers whether the player was online.
---
--- Refusals: "set_rainbow takes named fields, `{ intensity = 0.8 }`, not a list";
--- "set_rainbow: unknown field `<key>`. The fields are [\"intensity\", \"ease_ticks\"].";
--- "set_rainbow needs `intensity`, a number from 0 to 1 (nil for no rainbow)".
---@param player string
---@param rainbow? { intensity: number, ease_ticks?: number }
---@return boolean
function game.set_rainbow(player, rainbow) end

---@class game.Flash
---@field pos { x: number, y: number, z: number, domain?: string }
---@field colour? game.Colour Each 0 to 2 (1).
---@field intensity? number 0 to 4 (1).
---@field attack_ticks? integer At most 100 (1).
---@field decay_ticks? integer At most 400 (6).
---@field radius? number Blocks from `pos`, 0 to 1024 (256).
---@field player? string Only this player, when in reach.

--- A moment's light on the sky of every player in the domain within `radius` of `pos`.
--- Answers how many players were told.
---
--- Refusal: "flash needs a `pos` table".
---@param spec game.Flash
---@return integer
function game.flash(spec) end

---@class game.Lightning
---@field from { x: number, y: number, z: number, domain?: string } The top of the bolt.
---@field to { x: number, y: number, z: number, domain?: string } Its end; at most 4096 blocks from `from`.
---@field seed? integer The bolt's shape; absent, each call draws another bolt.
---@field colour? game.Colour Each 0 to 2 (0.85, 0.8, 1).
---@field width? number Blocks, 0 to 8 (0.4).
---@field branches? integer Forks, 0 to 8 (3).
---@field ticks? integer How long it shows, 1 to 200 (8).
---@field radius? number Reach in blocks from `from` (the top, not the ground), 0 to 1024 (256).
---@field player? string Only this player, when in reach.

--- A lightning bolt drawn by every player in reach; send a `flash` beside it to light the sky.
--- Answers how many players were told.
---
--- Refusals: "lightning needs a `from` table" (or `to`); "lightning: `from` is in `<a>` and
--- `to` in `<b>`; a bolt is in one domain"; "a seed must be a whole number, not <n>".
---@param spec game.Lightning
---@return integer
function game.lightning(spec) end

---@class game.Star
---@field id integer 16 to 2063; ids 0 to 15 are never stars (use 0 and 1 for a sun and moon of your own).
---@field x integer Universe position, blocks.
---@field y integer
---@field z integer
---@field magnitude number Intrinsic brightness, 0 to 1.
---@field warmth number 0 coolest to 1 warmest.

--- The 2,048 stars of this world, the same the players see, in catalog order; a new list each
--- call. nil before the world runs (at the top of `init.lua`).
---@return game.Star[]?
function game.stars() end

--- The world's position among the stars; nil before the world runs.
---@return { x: integer, y: integer, z: integer }?
function game.world_position() end

--- Where a connected player looks: a unit direction and their domain; nil for a player not
--- connected.
---
--- Refusal: "look_direction takes a player UUID in hex, as a hook event reports one".
---@param player string
---@return { x: number, y: number, z: number, domain: string }?
function game.look_direction(player) end

--- The star a connected player looks at, seen from their domain's place among the stars at this
--- time of day, with how well it lines up (1 dead on); nil for a player not connected.
---@param player string
---@return { id: integer, alignment: number }?
function game.star_in_view(player) end

-- ---- What players see and hear ------------------------------------------------------------------
--
-- None of these changes the world. Each that sends something answers how many players it was
-- queued for: a `player` field narrows delivery to that player and never widens it, and a player
-- whose queue is full is not counted. Numbers out of range are clamped, a NaN or infinity takes
-- the field's default; texts sent to clients must be UTF-8. At the top of init.lua, in
-- on_world_init and in generation handlers they answer 0 (or false) and send nothing.

---@class game.Tint
---@field r? number 0..1, default 1 (255).
---@field g? number
---@field b? number
---@field a? number Opacity.

---@class game.ParticleSpec
---@field pos game.Point Required; only players in its domain are told.
---@field count? integer Particles, default 8, at most 256.
---@field colour? game.Tint
---@field size? number Blocks across, 0..4, default 0.1.
---@field lifetime? number Seconds, 0..30, default 1.
---@field velocity? { x?: number, y?: number, z?: number } Blocks a second, each -64..64.
---@field spread? number Random extra speed, 0..64.
---@field area? { x?: number, y?: number, z?: number } Half-size of the start box, each 0..16.
---@field gravity? number Downward pull, -64..64 (negative rises).
---@field collide? any Default true; false lets particles pass through blocks.
---@field texture? string|integer[] A content hash (64 hex digits, or 32 bytes) of a picture.
---@field radius? number Players within this many blocks are told, 0..128, default 32.
---@field player? string Only this player (64 hex digits).

--- A burst of particles that clients animate on their own. Answers the players told; a player
--- with 256 bursts waiting is not told.
---
--- Refusals: "emit_particles needs a `pos` table"; "emit_particles: `colour` is a table
--- { r, g, b, a }"; "emit_particles: `velocity` is a table { x, y, z }" (or `area`); "`texture`
--- must be a content hash: 64 hex characters, as game.content_hash answers"; "`texture` must be
--- 32 bytes of content hash"; "emit_particles: `player` is a player's UUID in hex, not `<text>`";
--- "emit_particles: bad field `pos.x` (expected number, got nil)" and like conversion errors.
---@param spec game.ParticleSpec
---@return integer
function game.emit_particles(spec) end

---@class game.BadgeSpec
---@field picture string|integer[] Required: a content hash of the picture.
---@field count? integer Icons side by side, 0..16, default 1; 0 takes the badge down.
---@field seconds? number 0..30, default 2.
---@field size? number Blocks across each icon, 0..4, default 0.4.
---@field colour? game.Tint
---@field radius? number 0..128, default 32.
---@field player? string Only this player.

--- A row of pictures over an entity, following it. A later badge for the same entity replaces
--- the earlier one; 0 for an entity that is gone. A player has badges for at most 64 entities
--- waiting.
---
--- Refusals: "an entity id must be an integer, not <kind>"; "show_over: `colour` is a table
--- { r, g, b, a }"; the `picture` content hash refusals; "show_over: `player` is a player's UUID
--- in hex, not `<text>`".
---@param entity integer
---@param spec game.BadgeSpec
---@return integer
function game.show_over(entity, spec) end

---@class game.SoundSpec
---@field sound string Required; without ":" it is yours ("thud" is "<your mod>:thud").
---@field pos game.Point Required; only players in its domain hear it.
---@field radius? number Blocks, 0..512, default 16.
---@field gain? number 0..8, default 1.
---@field entity? integer An entity the sound follows.
---@field player? string Only this player.

--- Plays a registered sound once. Answers the players told.
---
--- Refusals: "play_sound: bad field `sound` (expected string, got nil)" and like conversion
--- errors (`pos`, `pos.x`, `radius`...); "play_sound: `player` is a player's UUID in hex, not
--- `<text>`"; "an entity id must be an integer, not <kind>".
---@param spec game.SoundSpec
---@return integer
function game.play_sound(spec) end

---@class game.CueSpec: game.SoundSpec
---@field cue string Required; without ":" it is yours. Replaces `sound`.

--- Plays the sound bound last to the cue (game.bind_sound). A cue nobody bound answers 0 and
--- reads nothing else.
---
--- Refusals: "`engine:jump` is the engine's to emit; a mod may bind a sound to it but not raise
--- it" (any "engine:" cue); the play_sound refusals, named "cue".
---@param spec game.CueSpec
---@return integer
function game.cue(spec) end

---@class game.LoopSpec
---@field id string Required; yours ("night" is "<your mod>:night"); another mod's is refused.
---@field sound string Required; without ":" it is yours.
---@field everywhere? any Default false; true plays at full gain wherever each player stands.
---@field pos? game.Point Default (0, 0, 0); a positioned loop reaches its domain only.
---@field radius? number 0..512, default 16.
---@field gain? number 0..8, default 1.
---@field player? string Only this player.
---@field fade_ticks? integer Ticks to fade in, 0..1200 (more is 1200), default 0.

--- Starts a looping sound on the clients told, known by its id. The server keeps no list: a
--- player who joins later is not told.
---
--- Refusals: "mod `<mod>` may not register into namespace `<ns>`: a mod owns only its own id as
--- a namespace"; "play_loop: `player` is a player's UUID in hex, not `<text>`"; conversion
--- errors ("play_loop: bad field `fade_ticks` (-1 is out of range for an unsigned 32-bit
--- integer)").
---@param spec game.LoopSpec
---@return integer
function game.play_loop(spec) end

--- Stops one of your loops for every player (or the one named), wherever they stand.
---
--- Refusals: "stop_loop takes the loop's id, or a table with `id`, `fade_ticks` and `player`";
--- the namespace refusal for another mod's id; "stop_loop: bad field `id` (expected string, got
--- nil)".
---@param loop string|{ id: string, fade_ticks?: integer, player?: string }
---@return integer
function game.stop_loop(loop) end

--- The time of day: 0 midnight, 0.25 dawn, 0.5 noon, 0.75 dusk; 0 in a world without a day.
---@return number
function game.time_of_day() end

--- Winds the clock; values wrap (1.25 is 0.25, -0.25 is 0.75) and every player is told at once.
--- False in a world without a day.
---
--- Refusals: "set_time_of_day: the time is 0..1, midnight to midnight, and not a NaN" (also an
--- infinity); "bad argument #1 to 'set_time_of_day' (expected number, got <type>)".
---@param t number
---@return boolean
function game.set_time_of_day(t) end

--- Replaces your mod's HUD values for one player; your HUD script receives them. At most 32
--- values, names of at most 32 bytes, texts of at most 64 bytes; an empty table clears them.
--- Setting the same values again sends nothing. False, and nothing kept, for a player who is not
--- online.
---
--- Refusals: "game.set_hud takes at most 32 values"; "game.set_hud value names are at most 32
--- bytes, and `<name>` is longer"; "game.set_hud text is at most 64 bytes, and `<name>`'s is
--- longer"; "game.set_hud was given `<name>` as a number that is not one"; "game.set_hud takes
--- numbers, strings and booleans; `<name>` is a <type>"; "set_hud takes a player UUID in hex, as
--- a hook event reports one".
---@param player string
---@param values table<string, number|string|boolean>
---@return boolean
function game.set_hud(player, values) end

--- Whether the id is on the server's operator list, online or not.
---@param player string
---@return boolean
function game.is_operator(player) end

--- One private chat line to one player. False for a player who is not online (the line is not
--- kept) or who has 256 lines waiting.
---
--- Refusals: "chat_to: a line is at most 512 bytes"; "chat_to takes a player UUID in hex, as a
--- hook event reports one"; "bad argument #2 to 'chat_to' (expected UTF-8 text, got bytes that
--- are not)".
---@param player string
---@param line string
---@return boolean
function game.chat_to(player, line) end
