ardour {
	["type"]    = "dsp",
	name        = "Tavlo Test Tone",
	category    = "Utility",
	author      = "Tavlo",
	description = [[Deterministic test signals for the Tavlo interop tests: 0 silence, 1 Nyquist tone (+A, -A, ...), 2 DC of A, 3 two sines (330 Hz and 1700 Hz, left and right differ)]]
}

function dsp_ioconfig ()
	return { { audio_in = 2, audio_out = 2 } }
end

function dsp_params ()
	return {
		{ ["type"] = "input", name = "Mode", min = 0, max = 3, default = 0, integer = true },
		{ ["type"] = "input", name = "Amplitude", min = 0, max = 1, default = 1 },
	}
end

local rate = 48000
local pos = 0
-- The two sines repeat exactly every 19200 frames at 48 kHz (33 and 170
-- cycles on the left, 99 and 680 on the right). Counting frames modulo that
-- period makes every sample depend only on its phase, so two exports that
-- start the tone at different frames still carry the same samples once
-- aligned; a free-running count rounds sin() differently at every offset.
local period = 0

function dsp_init (r)
	rate = r
	if r == 48000 then period = 19200 end
end

function dsp_run (ins, outs, n_samples)
	local ctrl = CtrlPorts:array ()
	local mode = math.floor (ctrl[1] + 0.5)
	local amp = ctrl[2]
	local l = outs[1]:array ()
	local r = outs[2]:array ()
	local w1 = 2 * math.pi * 330 / rate
	local w2 = 2 * math.pi * 1700 / rate
	for s = 1, n_samples do
		local n = pos + s - 1
		if period > 0 then n = n % period end
		local a, b = 0, 0
		if mode == 1 then
			if n % 2 == 0 then a = amp else a = -amp end
			b = a
		elseif mode == 2 then
			a = amp; b = amp
		elseif mode == 3 then
			a = amp * (0.6 * math.sin (w1 * n) + 0.3 * math.sin (w2 * n))
			b = amp * (0.6 * math.sin (w1 * 0.75 * n) + 0.3 * math.sin (w2 * n + 1))
		end
		l[s] = a
		r[s] = b
	end
	pos = pos + n_samples
	if period > 0 then pos = pos % period end
end
