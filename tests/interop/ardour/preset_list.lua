-- Prints the presets Ardour lists for Tavlo's VST 3 (its preset menu), one
-- "LISTED label<TAB>uri" line each, after saving a user preset of its own.
-- Environment: TAVLO_SESSION_DIR, TAVLO_USER_PRESET (label of that preset);
-- HOME is where the driver installed Tavlo.

local dir = os.getenv ("TAVLO_SESSION_DIR")
local user = os.getenv ("TAVLO_USER_PRESET")

local function fail (msg)
	print ("SESSION-ERROR " .. msg)
	os.exit (1)
end

local s = create_session (dir, "list", 48000)
if not s then fail ("cannot create the session") end
local tl = s:new_audio_track (2, 2, nil, 1, "Main", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
if tl:size () ~= 1 then fail ("cannot add a track") end
local tavlo = ARDOUR.LuaAPI.new_plugin (s, "Tavlo", ARDOUR.PluginType.VST3, "")
if tavlo:isnil () then fail ("Tavlo not found") end
if tl:front ():add_processor_by_index (tavlo, 0, nil, true) ~= 0 then fail ("cannot insert Tavlo") end
local plug = tavlo:to_insert ():plugin (0)
local rec = plug:save_preset (user)
if not rec or not rec.valid then fail ("cannot save a user preset") end

-- Lua reaches the menu's list only by key: the plug-in's programs are keyed
-- by their index, the preset files are the ones the plug-in's info finds
-- (each looked up again in the plug-in's own list).
local listed = {}
for k = 0, 255 do
	local p = plug:preset_by_uri (string.format ("VST3-P:%s:%04d", plug:unique_id (), k))
	if not p or not p.valid then break end
	listed[#listed + 1] = p
end
for p in plug:get_info ():get_presets (false):iter () do
	local q = plug:preset_by_uri (p.uri)
	if q and q.valid and q.uri:sub (1, 7) ~= "VST3-P:" then listed[#listed + 1] = q end
end
for _, p in ipairs (listed) do
	print ("LISTED " .. p.label .. "\t" .. p.uri)
end
print ("SESSION-DONE")
