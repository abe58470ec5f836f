-- Loads a saved snapshot in a fresh process, chooses one of Tavlo's presets
-- from Ardour's own list for the plug-in, as its preset menu does, prints
-- the values Ardour then holds and saves the session under another name.
-- Environment: TAVLO_SESSION_DIR, TAVLO_SNAPSHOT, TAVLO_PRESET (its label),
-- TAVLO_RESAVE_AS.
-- The driver runs it with a time limit: choosing a preset can deadlock the
-- host inside the plug-in's call, so each step is printed before it is taken.

local dir = os.getenv ("TAVLO_SESSION_DIR")
local snap = os.getenv ("TAVLO_SNAPSHOT")
local label = os.getenv ("TAVLO_PRESET")
local resave = os.getenv ("TAVLO_RESAVE_AS")

local function fail (msg)
	print ("SESSION-ERROR " .. msg)
	os.exit (1)
end

local s = load_session (dir, snap)
if not s then fail ("cannot load " .. snap) end
local main = s:route_by_name ("Main")
if main:isnil () then fail ("no track Main") end
local proc = nil
for i = 0, 8 do
	local p = main:nth_plugin (i)
	if p:isnil () then break end
	if p:display_name () == "Tavlo" then proc = p end
end
if not proc then fail ("Tavlo not on track Main") end
local plug = proc:to_insert ():plugin (0)

local rec = plug:preset_by_label (label)
if not rec or not rec.valid then fail ("no preset " .. label .. " in Ardour's list") end
print ("CHOSEN " .. rec.uri)
print ("LOADING")
local loaded = plug:load_preset (rec)
print ("LOADED " .. tostring (loaded))
-- A few cycles, for what the plug-in reports back to the host.
ARDOUR.LuaAPI.usleep (400000)
local last = plug:last_preset ()
print ("LAST " .. ((last and last.valid) and last.label or "none"))

-- Ardour's values: the plug-in's as the host caches them (what Lua and the
-- session read), and the automation controls (what its generic view shows).
-- get_processor_param counts every control, outputs too.
local n = 0
for j = 0, plug:parameter_count () - 1 do
	if plug:parameter_is_control (j) and plug:parameter_is_input (j) then
		local ctrl = proc:to_automatable ():automation_control (
			Evoral.Parameter (ARDOUR.AutomationType.PluginAutomation, 0, j), false)
		print (string.format ("VALUE %s=%.9g", plug:parameter_label (j), ARDOUR.LuaAPI.get_processor_param (proc, n)))
		print (string.format ("CONTROL %s=%.9g", plug:parameter_label (j), ctrl:isnil () and 0 / 0 or ctrl:get_value ()))
	end
	if plug:parameter_is_control (j) then n = n + 1 end
end
if not s:save_state (resave, false, false, false, false, false) then fail ("cannot save " .. resave) end
print ("SESSION-DONE")
