# The reference tool's Burg formants of one sound file every 10 ms, with its
# voicing, for comparing formant tracks:
#   praat --run formant_track.praat FILE.wav CEILING
# prints one line per 10 ms from 0: time (ms), F1, F2 (Hz, 0 where
# undefined) and 1 where its pitch track calls the frame voiced, else 0.
# Analysis: To Formant (burg) with a 0.01 s step, 5 formants, the ceiling
# given, a 0.025 s window and pre-emphasis from 50 Hz; To Pitch with its
# defaults (75-600 Hz).
form Formant track
    sentence File
    positive Ceiling 5000
endform
sound = Read from file: file$
duration = Get total duration
formant = To Formant (burg): 0.01, 5, ceiling, 0.025, 50
selectObject: sound
pitch = To Pitch: 0.01, 75, 600
frames = floor(duration / 0.01)
out$ = ""
for k from 0 to frames - 1
    t = k * 0.01
    selectObject: formant
    f1 = Get value at time: 1, t, "hertz", "linear"
    f2 = Get value at time: 2, t, "hertz", "linear"
    selectObject: pitch
    f0 = Get value at time: t, "hertz", "linear"
    if f1 = undefined
        f1 = 0
    endif
    if f2 = undefined
        f2 = 0
    endif
    voiced = 1
    if f0 = undefined
        voiced = 0
    endif
    out$ = out$ + fixed$(t * 1000, 1) + tab$ + fixed$(f1, 1) + tab$ + fixed$(f2, 1) + tab$ + string$(voiced) + newline$
endfor
writeInfo: out$
