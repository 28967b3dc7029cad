-- SPDX-FileCopyrightText: Halvercot
-- SPDX-License-Identifier: MIT
---@meta

---@class game
game = {}

function game.bind_sound(...) end

function game.block_of(...) end

function game.content_hash(...) end

function game.export(...) end

function game.exports(...) end

function game.get_block_id(...) end

function game.hardness(...) end

function game.log(...) end

function game.register_action(...) end

function game.register_block(...) end

function game.register_clouds(...) end

function game.register_domain(...) end

function game.register_fluid(...) end

function game.register_font(...) end

function game.register_hud_script(...) end

function game.register_item(...) end

function game.register_model(...) end

function game.register_on_action(...) end

function game.register_on_chat(...) end

function game.register_on_dialog_event(...) end

function game.register_on_dig_complete(...) end

function game.register_on_dig_start(...) end

function game.register_on_dismount(...) end

function game.register_on_domain_enter(...) end

function game.register_on_domain_exit(...) end

function game.register_on_entity_step(...) end

function game.register_on_fluid_flow(...) end

function game.register_on_generate(...) end

function game.register_on_place(...) end

function game.register_on_player_join(...) end

function game.register_on_player_leave(...) end

function game.register_on_player_move(...) end

function game.register_on_punch(...) end

function game.register_on_tick(...) end

function game.register_on_use(...) end

function game.register_on_use_entity(...) end

function game.register_on_world_init(...) end

function game.register_picture(...) end

function game.register_random_tick(...) end

function game.register_setting(...) end

function game.register_sky(...) end

function game.register_sound(...) end

function game.register_tool(...) end

function game.register_view(...) end

function game.set_main_slots(...) end

function game.set_slot_grain(...) end

function game.setting(...) end

function game.tagged(...) end

function game.tags(...) end

function game.world_option(...) end

