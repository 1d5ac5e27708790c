-- Ardour's Lua session tool, driven by ArdourTest:
--   ardour7-lua ardour-session.lua create DIR NAME [FORMAT]   a session with
--     the instrument on a MIDI track, the "fmbells" preset loaded and axis 0
--     at 100, saved and closed; FORMAT LV2 (the default) or VST3
--   ardour7-lua ardour-session.lua reopen DIR NAME   the session opened
--     again, axis 0 printed, saved again and closed
-- The engine runs on the JACK server named by JACK_DEFAULT_SERVER.
local mode, dir, name, format = arg[1], arg[2], arg[3], arg[4] or "LV2"
AudioEngine:set_backend("JACK", "", "")
assert(AudioEngine:start(false) == 0, "the audio engine did not start")
if mode == "create" then
  assert(create_session(dir, name, 48000), "cannot create the session")
  local info = format == "VST3" and ARDOUR.LuaAPI.new_plugin_info("quorvanel", ARDOUR.PluginType.VST3)
    or ARDOUR.LuaAPI.new_plugin_info("urn:quorvanel:instrument", ARDOUR.PluginType.LV2)
  assert(not info:isnil(), "the instrument is not installed")
  local tracks = Session:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1),
    ARDOUR.ChanCount(ARDOUR.DataType("audio"), 2), true, info, nil, nil, 1, "synth",
    ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true, false)
  for t in tracks:iter() do
    local proc = t:nth_plugin(0)
    local plugin = proc:to_insert():plugin(0)
    assert(plugin:load_preset(plugin:preset_by_label("fmbells")), "cannot load the preset")
    assert(ARDOUR.LuaAPI.set_processor_param(proc, 0, 100), "cannot set axis 0")
  end
  -- Control values reach the plugin in the engine's next cycles, and the
  -- track's outputs are connected to the master bus by another thread.
  for t in tracks:iter() do
    local out = t:output()
    -- Without a window the automatic connection does not always come:
    -- after a second the test makes it, and the backend confirms it.
    for k = 1, 100 do
      if out:audio(0):connected() and out:audio(1):connected() then break end
      if k == 20 then
        for c = 0, 1 do out:connect(out:audio(c), "Master/audio_in " .. (c + 1), nil) end
      end
      ARDOUR.LuaAPI.usleep(50000)
    end
    assert(out:audio(0):connected() and out:audio(1):connected(), "the track is not connected to the master bus")
  end
  ARDOUR.LuaAPI.usleep(300000)
else
  assert(load_session(dir, name), "cannot open the session")
  for r in Session:get_routes():iter() do
    local proc = r:nth_plugin(0)
    if not proc:isnil() then print("axis0", ARDOUR.LuaAPI.get_processor_param(proc, 0, true)) end
  end
  ARDOUR.LuaAPI.usleep(300000)
end
Session:save_state("", false, false, false, false, false)
close_session()
print("done " .. mode)
