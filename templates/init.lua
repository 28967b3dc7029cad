-- SPDX-FileCopyrightText: Halvercot
-- SPDX-License-Identifier: MIT

-- The server runs this file once, at start-up, before any player joins. Everything a mod
-- registers is registered here; once the world starts, registration is closed.
--
-- Ids are written short and the server qualifies them with this mod's id: the block "beacon"
-- below becomes "{{MOD_ID}}:beacon". `game` is the whole mod API; stubs/game.lua documents
-- every function in it.

-- A block. Registering it gives back its material number, the small integer the world stores
-- in every cell; keep it to recognise the block in events. Textures are paths relative to this
-- mod's directory; `light_emit` makes the block glow, each channel from 0 to 15.
local beacon = game.register_block({
  id = "beacon",
  name = "Beacon",
  description = "A block this mod brought. Dig it, place it, use it.",
  textures = { all = "textures/block.png" },
  light_emit = { r = 6, g = 14, b = 15 },
})

-- The full id of the block, "<mod id>:beacon"; what comes before the colon is this mod's id,
-- which events carry in action and dialog names.
local mod_id = game.block_of(beacon):match("^(.*):")

-- A tool. The "block" brush digs and places whole blocks (the "subnode" brush single cells, a
-- third of a block on each axis); `speed_multiplier` scales how fast it digs, and `default`
-- offers it as the tool a player has before choosing one.
game.register_tool({
  id = "hand",
  brush = "block",
  speed_multiplier = 1.0,
  default = true,
})

-- A sound, sent to clients with the rest of this mod's files. `gain` is its loudness (1 plays
-- the file as it is); `pitch_variance` is how much the pitch varies on each play, as a
-- fraction, so a sound heard often does not tire the ear.
game.register_sound({
  id = "ping",
  file = "sounds/ping.wav",
  gain = 0.8,
  pitch_variance = 0.1,
})

-- An action: a key a player can press, shown in the client's controls with its description.
-- `default_key` is the key it starts on; each player may bind it to another.
game.register_action({
  id = "wave",
  default_key = "KeyJ",
  description = "Wave: open this mod's dialog",
})

-- The forms and actions of events carry full ids.
local wave = mod_id .. ":wave"

-- Hooks. Each mod registers at most one function per hook, and the function is asked with one
-- event table; `event.player` is the player's id as 64 hexadecimal digits. Answering false
-- (or a text, which the player is shown) refuses what the player tried; answering nothing lets
-- it go ahead. A hook that raises an error disables the whole mod, so keep them simple.

-- An action hook: every press and release of every mod's actions arrives here, so look at the
-- id first. A press of the wave key is where this mod would open its dialog.
game.register_on_action(function(event)
  if event.id ~= wave or not event.pressed then
    return
  end
  game.log("player " .. event.player .. " waved")
end)

-- A dialog-event hook: asked only for dialogs this mod opened, with the form's full id and
-- what happened in it (`kind` is "pressed" for a button, `name` the button's name). Answering
-- true tells the server the event was taken care of.
game.register_on_dialog_event(function(event)
  if event.form ~= wave then
    return
  end
  if event.kind == "pressed" and event.name == "mark" then
    game.log("player " .. event.player .. " asked for a beacon")
  end
  return true
end)

-- A use hook: a player used (right-clicked) something. `event.material` is the material of the
-- cell used; `x`, `y` and `z` are cell coordinates, three cells to a block on each axis.
-- Answering "" says the use is handled and there is nothing to tell the player; other mods'
-- handlers are then not asked.
game.register_on_use(function(event)
  if event.material ~= beacon then
    return
  end
  local x, y, z = event.x // 3, event.y // 3, event.z // 3
  game.log(string.format("the beacon at %d, %d, %d hums", x, y, z))
  return ""
end)

-- A join hook: a player has joined. Answer nothing: false would keep the mods after this one
-- from hearing of the join (the player joins all the same).
game.register_on_player_join(function(event)
  game.log(event.name .. " joined; {{MOD_NAME}} is loaded: press the wave key, or place a beacon.")
end)
