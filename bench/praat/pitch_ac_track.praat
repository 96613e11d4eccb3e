# The reference tool's autocorrelation pitch track at its defaults (10 ms
# step, 75–600 Hz), one frame a line:
#   praat --run pitch_ac_track.praat FILE.wav
# prints "time_ms<TAB>f0_hz" for every frame, f0 0 where unvoiced.
form Pitch track (ac)
    sentence File
endform
sound = Read from file: file$
pitch = To Pitch (ac): 0.01, 75, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 600
frames = Get number of frames
lines$ = ""
for frame to frames
    time = Get time from frame number: frame
    f0 = Get value in frame: frame, "Hertz"
    if f0 = undefined
        f0 = 0
    endif
    lines$ = lines$ + fixed$(time * 1000, 3) + tab$ + fixed$(f0, 4) + newline$
endfor
writeInfo: lines$
