-- Loads a saved snapshot in a fresh process, prints Tavlo's parameter values
-- and saves it again under another name. Environment: TAVLO_SESSION_DIR,
-- TAVLO_SNAPSHOT, TAVLO_RESAVE_AS.

local dir = os.getenv ("TAVLO_SESSION_DIR")
local snap = os.getenv ("TAVLO_SNAPSHOT")
local resave = os.getenv ("TAVLO_RESAVE_AS")

local s = load_session (dir, snap)
if not s then
	print ("SESSION-ERROR cannot load " .. snap)
	os.exit (1)
end
local main = s:route_by_name ("Main")
if main:isnil () then
	print ("SESSION-ERROR no track Main")
	os.exit (1)
end
local found = false
for i = 0, 8 do
	local proc = main:nth_plugin (i)
	if proc:isnil () then break end
	if proc:display_name () == "Tavlo" then
		found = true
		local plug = proc:to_insert ():plugin (0)
		print ("LATENCY reloaded " .. proc:signal_latency ())
		-- get_processor_param counts every control, outputs too.
		local n = 0
		for j = 0, plug:parameter_count () - 1 do
			if plug:parameter_is_control (j) then
				if plug:parameter_is_input (j) then
					print (string.format ("VALUE %s=%.9g", plug:parameter_label (j), ARDOUR.LuaAPI.get_processor_param (proc, n)))
				end
				n = n + 1
			end
		end
	end
end
if not found then
	print ("SESSION-ERROR Tavlo not on track Main")
	os.exit (1)
end
ARDOUR.LuaAPI.usleep (400000)
if not s:save_state (resave, false, false, false, false, false) then
	print ("SESSION-ERROR cannot save " .. resave)
	os.exit (1)
end
print ("SESSION-DONE")
