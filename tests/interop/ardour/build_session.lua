-- Builds the test session and saves one snapshot per check. Run by
-- ardour_interop.py in ardour7-lua; arguments come from the environment:
-- TAVLO_SESSION_DIR, TAVLO_SESSION_NAME, TAVLO_FRAMES (length of the render),
-- TAVLO_PLUGIN_TYPE (VST3 or LV2: which of the two bundles is inserted).

local dir = os.getenv ("TAVLO_SESSION_DIR")
local name = os.getenv ("TAVLO_SESSION_NAME")
local frames = tonumber (os.getenv ("TAVLO_FRAMES"))
local plugin_type = ARDOUR.PluginType[os.getenv ("TAVLO_PLUGIN_TYPE") or "VST3"]
local rate = 48000

local function fail (msg)
	print ("SESSION-ERROR " .. msg)
	os.exit (1)
end

local s = create_session (dir, name, rate)
if not s then fail ("cannot create the session") end

-- Parameters are looked up by name, taking the last one with that label: the
-- host decides where its own bypass switch goes, and the plug-in's Bypass
-- comes after it. The index counts every control, outputs too, as Ardour's
-- set_processor_param does: LV2 ports added after the meters come after them.
local function own_param_index (proc, label)
	local plug = proc:to_insert ():plugin (0)
	local found = nil
	local n = 0
	for i = 0, plug:parameter_count () - 1 do
		if plug:parameter_is_control (i) then
			if plug:parameter_is_input (i) and plug:parameter_label (i) == label then found = n end
			n = n + 1
		end
	end
	if not found then fail ("no parameter " .. label) end
	return found
end

-- The plug-in's own index of a parameter, for its descriptor.
local function own_param_port (proc, label)
	local plug = proc:to_insert ():plugin (0)
	local found = nil
	for i = 0, plug:parameter_count () - 1 do
		if plug:parameter_is_input (i) and plug:parameter_is_control (i) and plug:parameter_label (i) == label then
			found = i
		end
	end
	if not found then fail ("no parameter " .. label) end
	return found
end

local function set (proc, label, value)
	local idx = own_param_index (proc, label)
	if not ARDOUR.LuaAPI.set_processor_param (proc, idx, value) then
		fail ("cannot set " .. label)
	end
end

local function snapshot (snap)
	-- Parameter changes reach the plug-in in the next cycle; the saved state
	-- is the plug-in's own stream.
	ARDOUR.LuaAPI.usleep (400000)
	if not s:save_state (snap, false, false, false, false, false) then fail ("cannot save " .. snap) end
	print ("SNAPSHOT " .. snap)
end

local function new_track (tname)
	local tl = s:new_audio_track (2, 2, nil, 1, tname, ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
	if tl:size () ~= 1 then fail ("cannot add track " .. tname) end
	return tl:front ()
end

local function new_tone (track, mode, amp)
	local gen = ARDOUR.LuaAPI.new_luaproc (s, "Tavlo Test Tone")
	if gen:isnil () then fail ("test tone script not found") end
	if track:add_processor_by_index (gen, 0, nil, true) ~= 0 then fail ("cannot insert the test tone") end
	ARDOUR.LuaAPI.set_processor_param (gen, 0, mode)
	ARDOUR.LuaAPI.set_processor_param (gen, 1, amp)
	return gen
end

s:locations ():add_range (Temporal.timepos_t (0), Temporal.timepos_t (frames))

local main = new_track ("Main")
local tone = new_tone (main, 3, 1.0)
snapshot ("dry")

if not plugin_type then fail ("unknown plug-in type") end
local tavlo = ARDOUR.LuaAPI.new_plugin (s, "Tavlo", plugin_type, "")
if tavlo:isnil () then fail ("Tavlo not found") end
if main:add_processor_by_index (tavlo, 1, nil, true) ~= 0 then fail ("cannot insert Tavlo") end

-- Report what the host sees, for the driver to check.
do
	local plug = tavlo:to_insert ():plugin (0)
	local labels = {}
	for i = 0, plug:parameter_count () - 1 do
		if plug:parameter_is_input (i) and plug:parameter_is_control (i) then
			labels[#labels + 1] = plug:parameter_label (i)
		end
	end
	print ("PARAMS " .. table.concat (labels, ","))
	print ("NAME " .. plug:name () .. "|" .. plug:maker ())
end

-- Attack and Release are set in the unit of the range Ardour reports for
-- them: seconds (up to about 0.01) or milliseconds (up to 10).
local time_scale = 1
do
	local plug = tavlo:to_insert ():plugin (0)
	for _, label in ipairs ({ "Attack", "Release" }) do
		local _, t = plug:get_parameter_descriptor (own_param_port (tavlo, label), ARDOUR.ParameterDescriptor ())
		print (string.format ("RANGE %s %.9g %.9g", label, t[2].lower, t[2].upper))
		if label == "Attack" and t[2].upper > 1 then time_scale = 1000 end
	end
	print ("TIME_SCALE " .. time_scale)
end
local function set_time (proc, label, seconds)
	set (proc, label, seconds * time_scale)
end

-- The latency Ardour holds for the plug-in, after the cycles of a snapshot.
local function latency (what)
	print ("LATENCY " .. what .. " " .. tavlo:signal_latency ())
end

set (tavlo, "Input", 30)
set (tavlo, "Bypass", 1)
snapshot ("bypass")
latency ("off")

-- Nyquist tone at full scale: the hand-worked case of the driver.
ARDOUR.LuaAPI.set_processor_param (tone, 0, 1)
set (tavlo, "Bypass", 0)
set (tavlo, "Input", 0)
snapshot ("flat")
set (tavlo, "Input", 30)
snapshot ("comp")

-- Mix automated from 0 to 100 at the middle of the render.
do
	local idx = own_param_index (tavlo, "Mix")
	local al, cl, pd = ARDOUR.LuaAPI.plugin_automation (tavlo, idx)
	if al:isnil () then fail ("no automation list for Mix") end
	local mid = math.floor (frames / 2)
	cl:add (Temporal.timepos_t (0), 0, false, true)
	cl:add (Temporal.timepos_t (mid - 96), 0, false, true)
	cl:add (Temporal.timepos_t (mid), 100, false, true)
	cl:add (Temporal.timepos_t (frames), 100, false, true)
	local ctrl = tavlo:to_automatable ():automation_control (
		Evoral.Parameter (ARDOUR.AutomationType.PluginAutomation, 0, idx), false)
	if ctrl:isnil () then fail ("no automation control for Mix") end
	ctrl:set_automation_state (ARDOUR.AutoState.Play)
	snapshot ("automix")
	ctrl:set_automation_state (ARDOUR.AutoState.Off)
	cl:clear_list ()
	set (tavlo, "Mix", 100)
end

-- Settings for the save / reload / re-save round trip.
ARDOUR.LuaAPI.set_processor_param (tone, 0, 3)
set (tavlo, "Input", 45)
set (tavlo, "Output", -3)
set_time (tavlo, "Attack", 0.002)
set_time (tavlo, "Release", 0.2)
set (tavlo, "Mix", 80)
set (tavlo, "HPF", 100)
set (tavlo, "Oversample", 1)
set (tavlo, "Detector", 2)
snapshot ("state")
latency ("on")
-- The same settings as a user preset, as Ardour's preset menu saves one
-- (under $HOME, which the driver points at its work folder).
do
	local rec = tavlo:to_insert ():plugin (0):save_preset ("Tavlo Render Check")
	print ("PRESET " .. ((rec and rec.valid) and rec.uri or "none"))
end

-- Side-chain: the main track carries DC 0.5, a second track a full-scale
-- Nyquist tone into Tavlo's side-chain input only.
set (tavlo, "Detector", 0)
set (tavlo, "Output", 0)
set_time (tavlo, "Attack", 0.005)
set_time (tavlo, "Release", 0.3)
set (tavlo, "Mix", 100)
set (tavlo, "HPF", 20)
set (tavlo, "Oversample", 0)
set (tavlo, "Input", 30)
ARDOUR.LuaAPI.set_processor_param (tone, 0, 2)
ARDOUR.LuaAPI.set_processor_param (tone, 1, 0.5)
local side = new_track ("Side")
new_tone (side, 1, 1.0)
side:output ():disconnect_all (nil)
if not main:add_sidechain (tavlo) then fail ("cannot add a side-chain") end
local sc = tavlo:to_insert ():sidechain_input ()
if sc:isnil () then fail ("no side-chain input") end
for c = 0, 1 do
	local src = side:output ():audio (c):name ()
	if sc:connect (sc:audio (c), src, nil) ~= 0 then fail ("cannot connect the side-chain " .. src) end
end
set (tavlo, "Sidechain", 1)
snapshot ("sc_main")
latency ("off again")
set (tavlo, "Sidechain", 0)
snapshot ("sc_on")

print ("SESSION-DONE")
