<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>TMainWindow</name>
    <message>
        <source>Please Add Files To Convert!</source>
        <translation>Bitte fügen Sie Dateien zum Umwandeln hinzu!</translation>
    </message>
    <message>
        <source>Please select an output folder!</source>
        <translation>Bitte wählen Sie einen Ausgabeordner!</translation>
    </message>
    <message>
        <source>Stop all conversions?</source>
        <translation>Alle Umwandlungen anhalten?</translation>
    </message>
    <message>
        <source>All Conversions Completed</source>
        <translation>Alle Umwandlungen abgeschlossen</translation>
    </message>
    <message>
        <source>Fail to add file to list!</source>
        <translation>Die Datei konnte nicht zur Liste hinzugefügt werden!</translation>
    </message>
    <message>
        <source>Some files are missing. Please re-install this software</source>
        <translation>Einige Dateien fehlen. Bitte installieren Sie das Programm neu.</translation>
    </message>
    <message>
        <source>Conversion is not available in this build: the converter component is not part of it yet.</source>
        <translation>Umwandeln ist in dieser Fassung nicht möglich: Die Umwandlungskomponente ist noch nicht enthalten.</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>Done with errors</source>
        <translation>Fertig mit Fehlern</translation>
    </message>
    <message>
        <source>Fail</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Abort</source>
        <translation>Abbruch</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Unlesbar</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
    <message>
        <source>All Supported Files</source>
        <translation>Alle unterstützten Dateien</translation>
    </message>
    <message>
        <source>3GPP Files (*.3gp)</source>
        <translation>3GPP-Dateien (*.3gp)</translation>
    </message>
    <message>
        <source>3GPP2 Files (*.3g2)</source>
        <translation>3GPP2-Dateien (*.3g2)</translation>
    </message>
    <message>
        <source>AAC Files (*.aac)</source>
        <translation>AAC-Dateien (*.aac)</translation>
    </message>
    <message>
        <source>AC3 Files (*.ac3)</source>
        <translation>AC3-Dateien (*.ac3)</translation>
    </message>
    <message>
        <source>Audio CD Files (*.cda)</source>
        <translation>Audio-CD-Dateien (*.cda)</translation>
    </message>
    <message>
        <source>AVI Files (*.avi)</source>
        <translation>AVI-Dateien (*.avi)</translation>
    </message>
    <message>
        <source>DV Video Files (*.dv, *.dif)</source>
        <translation>DV-Videodateien (*.dv, *.dif)</translation>
    </message>
    <message>
        <source>DVD VOB Files (*.vob)</source>
        <translation>DVD-VOB-Dateien (*.vob)</translation>
    </message>
    <message>
        <source>FLAC Files (*.flac)</source>
        <translation>FLAC-Dateien (*.flac)</translation>
    </message>
    <message>
        <source>GIF Animated Files (*.gif)</source>
        <translation>Animierte GIF-Dateien (*.gif)</translation>
    </message>
    <message>
        <source>Macromedia Flash Files (*.flv, *.swf)</source>
        <translation>Macromedia-Flash-Dateien (*.flv, *.swf)</translation>
    </message>
    <message>
        <source>Matroska Files (*.mkv, *.mka)</source>
        <translation>Matroska-Dateien (*.mkv, *.mka)</translation>
    </message>
    <message>
        <source>Monkey Audio Files (*.ape, *.cue)</source>
        <translation>Monkey-Audio-Dateien (*.ape, *.cue)</translation>
    </message>
    <message>
        <source>MJpeg Video Files (*.mjpg, *.mjpeg)</source>
        <translation>MJPEG-Videodateien (*.mjpg, *.mjpeg)</translation>
    </message>
    <message>
        <source>MP2 Files (*.mp2)</source>
        <translation>MP2-Dateien (*.mp2)</translation>
    </message>
    <message>
        <source>MP3 Files (*.mp3)</source>
        <translation>MP3-Dateien (*.mp3)</translation>
    </message>
    <message>
        <source>MPEG Files (*.mpeg, *.mpg, *.mpa, *.m1v, *.mv2)</source>
        <translation>MPEG-Dateien (*.mpeg, *.mpg, *.mpa, *.m1v, *.mv2)</translation>
    </message>
    <message>
        <source>MPEG Transport Streams (*.ts, *.m2ts, *.mts)</source>
        <translation>MPEG-Transportströme (*.ts, *.m2ts, *.mts)</translation>
    </message>
    <message>
        <source>MPEG-4 Files (*.mp4, *.m4v)</source>
        <translation>MPEG-4-Dateien (*.mp4, *.m4v)</translation>
    </message>
    <message>
        <source>MPEG-4 Audio Files (*.m4a, *.mp4)</source>
        <translation>MPEG-4-Audiodateien (*.m4a, *.mp4)</translation>
    </message>
    <message>
        <source>Ogg Files (*.ogg, *.oga, *.ogv, *.opus)</source>
        <translation>Ogg-Dateien (*.ogg, *.oga, *.ogv, *.opus)</translation>
    </message>
    <message>
        <source>RealMedia Files (*.rm, *.rmvb, *.ram, *.ra)</source>
        <translation>RealMedia-Dateien (*.rm, *.rmvb, *.ram, *.ra)</translation>
    </message>
    <message>
        <source>QuickTime Files (*.mov, *.qt)</source>
        <translation>QuickTime-Dateien (*.mov, *.qt)</translation>
    </message>
    <message>
        <source>VCD DAT Files (*.dat)</source>
        <translation>VCD-DAT-Dateien (*.dat)</translation>
    </message>
    <message>
        <source>WAV Files (*.wav, *.au, *.aiff)</source>
        <translation>WAV-Dateien (*.wav, *.au, *.aiff)</translation>
    </message>
    <message>
        <source>WebM Files (*.webm)</source>
        <translation>WebM-Dateien (*.webm)</translation>
    </message>
    <message>
        <source>Windows Media Files(*.wma, *.wmv, *.asf, *.asx)</source>
        <translation>Windows-Media-Dateien (*.wma, *.wmv, *.asf, *.asx)</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Add File</source>
        <translation>Datei hinzufügen</translation>
    </message>
    <message>
        <source>Remove File</source>
        <translation>Datei entfernen</translation>
    </message>
    <message>
        <source>Clear All </source>
        <translation>Alle entfernen </translation>
    </message>
    <message>
        <source>Stop Convert</source>
        <translation>Umwandeln anhalten</translation>
    </message>
    <message>
        <source>Go Convert </source>
        <translation>Umwandeln </translation>
    </message>
    <message>
        <source>Open Output Folder</source>
        <translation>Ausgabeordner öffnen</translation>
    </message>
    <message>
        <source>Output Folder :</source>
        <translation>Ausgabeordner:</translation>
    </message>
    <message>
        <source>Type or choose a folder</source>
        <translation>Ordner eingeben oder wählen</translation>
    </message>
    <message>
        <source>Choose the output folder</source>
        <translation>Ausgabeordner wählen</translation>
    </message>
    <message>
        <source>Same folder as the input</source>
        <translation>Ordner der Eingabedatei</translation>
    </message>
    <message>
        <source>Set Output Format :</source>
        <translation>Ausgabeformat:</translation>
    </message>
    <message>
        <source>Video File Name</source>
        <translation>Videodatei</translation>
    </message>
    <message>
        <source>Video Size</source>
        <translation>Bildgröße</translation>
    </message>
    <message>
        <source>FrameRate</source>
        <translation>Bildrate</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Dauer</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>Ausgabe</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Frames</source>
        <translation>Bilder</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source> Audio Settings </source>
        <translation> Audio-Einstellungen </translation>
    </message>
    <message>
        <source>Audio Codec : </source>
        <translation>Audio-Codec: </translation>
    </message>
    <message>
        <source>Audio Bitrate :</source>
        <translation>Audio-Bitrate:</translation>
    </message>
    <message>
        <source>Audio Channels :</source>
        <translation>Audiokanäle:</translation>
    </message>
    <message>
        <source>Sampling Rate : </source>
        <translation>Abtastrate: </translation>
    </message>
    <message>
        <source> Video Settings </source>
        <translation> Video-Einstellungen </translation>
    </message>
    <message>
        <source>Video Codec : </source>
        <translation>Video-Codec: </translation>
    </message>
    <message>
        <source>Video Size : </source>
        <translation>Bildgröße: </translation>
    </message>
    <message>
        <source>Video Bitrate : </source>
        <translation>Video-Bitrate: </translation>
    </message>
    <message>
        <source>Video Framerate : </source>
        <translation>Bildrate: </translation>
    </message>
    <message>
        <source> General Settings </source>
        <translation> Allgemeine Einstellungen </translation>
    </message>
    <message>
        <source>Video Zoom : </source>
        <translation>Bildanpassung: </translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message>
        <source>LetterBox</source>
        <translation>Schwarze Balken</translation>
    </message>
    <message>
        <source>Add a letterbox to keep video aspect ratio</source>
        <translation>Schwarze Balken ergänzen, um das Seitenverhältnis des Videos zu erhalten</translation>
    </message>
    <message>
        <source>Aspect Ratio : </source>
        <translation>Seitenverhältnis: </translation>
    </message>
    <message>
        <source>Volume : </source>
        <translation>Lautstärke: </translation>
    </message>
    <message>
        <source>Quality : </source>
        <translation>Qualität: </translation>
    </message>
    <message>
        <source>Re-encode streams that could be copied</source>
        <translation>Auch kopierbare Datenströme neu kodieren</translation>
    </message>
    <message>
        <source>The file being converted</source>
        <translation>Die Datei, die gerade umgewandelt wird</translation>
    </message>
    <message>
        <source>Queue %p%</source>
        <translation>Warteschlange %p%</translation>
    </message>
    <message>
        <source>All files of the run</source>
        <translation>Alle Dateien dieses Durchlaufs</translation>
    </message>
    <message>
        <source>Stop After This File</source>
        <translation>Nach dieser Datei anhalten</translation>
    </message>
    <message>
        <source>Convert files at once:</source>
        <translation>Dateien gleichzeitig:</translation>
    </message>
    <message>
        <source>How many files convert at the same time</source>
        <translation>Wie viele Dateien gleichzeitig umgewandelt werden</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Bereit</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>Add Files</source>
        <translation>Dateien hinzufügen</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>Umwandeln</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>&amp;Options</source>
        <translation>&amp;Optionen</translation>
    </message>
    <message>
        <source>Set Options</source>
        <translation>Optionen festlegen</translation>
    </message>
    <message>
        <source>&amp;Presets</source>
        <translation>&amp;Vorlagen</translation>
    </message>
    <message>
        <source>Save Current Settings as Preset...</source>
        <translation>Aktuelle Einstellungen als Vorlage speichern...</translation>
    </message>
    <message>
        <source>Rename Preset...</source>
        <translation>Vorlage umbenennen...</translation>
    </message>
    <message>
        <source>Delete Preset...</source>
        <translation>Vorlage löschen...</translation>
    </message>
    <message>
        <source>Export Presets...</source>
        <translation>Vorlagen exportieren...</translation>
    </message>
    <message>
        <source>Import Presets...</source>
        <translation>Vorlagen importieren...</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Open Help File</source>
        <translation>Hilfedatei öffnen</translation>
    </message>
    <message>
        <source>Visit Vavuror Website</source>
        <translation>Website von Vavuror besuchen</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Show in Folder</source>
        <translation>Im Ordner zeigen</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Abspielen</translation>
    </message>
    <message>
        <source>Show Log</source>
        <translation>Protokoll zeigen</translation>
    </message>
    <message>
        <source>Check All Items</source>
        <translation>Alle auswählen</translation>
    </message>
    <message>
        <source>Uncheck All Items</source>
        <translation>Auswahl aufheben</translation>
    </message>
    <message>
        <source>Remove Selected Item</source>
        <translation>Markierten Eintrag entfernen</translation>
    </message>
    <message>
        <source>Clear All Items</source>
        <translation>Alle Einträge entfernen</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>The file does not exist</source>
        <translation>Die Datei existiert nicht</translation>
    </message>
    <message>
        <source>Already in the list: %1</source>
        <translation>Schon in der Liste: %1</translation>
    </message>
    <message>
        <source>Choose the required output folder below :</source>
        <translation>Wählen Sie unten den gewünschten Ausgabeordner:</translation>
    </message>
    <message>
        <source>The output folder &quot;%1&quot;
does not exist or has been deleted!
Please choose a new output folder.</source>
        <translation>Der Ausgabeordner „%1“
existiert nicht oder wurde gelöscht!
Bitte wählen Sie einen neuen Ausgabeordner.</translation>
    </message>
    <message numerus="yes">
        <source>%n converted</source>
        <translation>
            <numerusform>%n umgewandelt</numerusform>
            <numerusform>%n umgewandelt</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n done with errors</source>
        <translation>
            <numerusform>%n mit Fehlern fertig</numerusform>
            <numerusform>%n mit Fehlern fertig</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n failed</source>
        <translation>
            <numerusform>%n fehlgeschlagen</numerusform>
            <numerusform>%n fehlgeschlagen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n stopped</source>
        <translation>
            <numerusform>%n angehalten</numerusform>
            <numerusform>%n angehalten</numerusform>
        </translation>
    </message>
    <message>
        <source>The run stops when the files being converted are done</source>
        <translation>Der Durchlauf endet, sobald die laufenden Dateien fertig sind</translation>
    </message>
    <message>
        <source>%1 fps</source>
        <translation>%1 fps</translation>
    </message>
    <message>
        <source>%1x</source>
        <translation>%1x</translation>
    </message>
    <message>
        <source>%1 left</source>
        <translation>noch %1</translation>
    </message>
    <message>
        <source>File Size : %1</source>
        <translation>Dateigröße: %1</translation>
    </message>
    <message>
        <source>Converting %1 of %2</source>
        <translation>Wandle %1 von %2 um</translation>
    </message>
    <message>
        <source> - %1 left</source>
        <translation> – noch %1</translation>
    </message>
    <message>
        <source>%1% - %2</source>
        <translation>%1% - %2</translation>
    </message>
    <message>
        <source>The output folder &quot;%1&quot; does not exist.</source>
        <translation>Der Ausgabeordner „%1“ existiert nicht.</translation>
    </message>
    <message>
        <source>Log of %1</source>
        <translation>Protokoll von %1</translation>
    </message>
    <message>
        <source>This file has not been converted yet.</source>
        <translation>Diese Datei wurde noch nicht umgewandelt.</translation>
    </message>
    <message>
        <source>Not finished; partial output: </source>
        <translation>Nicht fertig; unvollständige Ausgabe: </translation>
    </message>
    <message>
        <source>The presets cannot be saved: %1</source>
        <translation>Die Vorlagen können nicht gespeichert werden: %1</translation>
    </message>
    <message>
        <source>--- My Presets ---</source>
        <translation>--- Meine Vorlagen ---</translation>
    </message>
    <message>
        <source>Preset &quot;%1&quot; chosen</source>
        <translation>Vorlage „%1“ gewählt</translation>
    </message>
    <message>
        <source>Save Preset</source>
        <translation>Vorlage speichern</translation>
    </message>
    <message>
        <source>Preset name:</source>
        <translation>Name der Vorlage:</translation>
    </message>
    <message>
        <source>Rename Preset</source>
        <translation>Vorlage umbenennen</translation>
    </message>
    <message>
        <source>Preset:</source>
        <translation>Vorlage:</translation>
    </message>
    <message>
        <source>New name:</source>
        <translation>Neuer Name:</translation>
    </message>
    <message>
        <source>A preset named &quot;%1&quot; exists already.</source>
        <translation>Eine Vorlage namens „%1“ gibt es schon.</translation>
    </message>
    <message>
        <source>Delete Preset</source>
        <translation>Vorlage löschen</translation>
    </message>
    <message>
        <source>Export Presets</source>
        <translation>Vorlagen exportieren</translation>
    </message>
    <message>
        <source>Presets (*.json)</source>
        <translation>Vorlagen (*.json)</translation>
    </message>
    <message>
        <source>The presets cannot be exported: %1</source>
        <translation>Die Vorlagen können nicht exportiert werden: %1</translation>
    </message>
    <message>
        <source>Import Presets</source>
        <translation>Vorlagen importieren</translation>
    </message>
    <message>
        <source>&quot;%1&quot; holds no presets.</source>
        <translation>„%1“ enthält keine Vorlagen.</translation>
    </message>
    <message numerus="yes">
        <source>%n preset(s) imported</source>
        <translation>
            <numerusform>%n Vorlage importiert</numerusform>
            <numerusform>%n Vorlagen importiert</numerusform>
        </translation>
    </message>
    <message>
        <source>The help file &quot;%1&quot; cannot be found.</source>
        <translation>Die Hilfedatei „%1“ wurde nicht gefunden.</translation>
    </message>
    <message>
        <source>Fit to Size :</source>
        <translation>Zielgröße :</translation>
    </message>
    <message>
        <source>Make each output at most this size, in two passes (video profiles; nothing is copied)</source>
        <translation>Jede Ausgabe höchstens so groß machen, in zwei Durchgängen (Videoprofile; nichts wird kopiert)</translation>
    </message>
    <message>
        <source> MB</source>
        <translation> MB</translation>
    </message>
    <message>
        <source>1 MB = 1,000,000 bytes</source>
        <translation>1 MB = 1.000.000 Byte</translation>
    </message>
    <message>
        <source>Stop This File</source>
        <translation>Diese Datei anhalten</translation>
    </message>
    <message>
        <source>Stops the selected file, or the one being converted; the others go on</source>
        <translation>Hält die gewählte Datei an, oder die gerade umgewandelte; die anderen laufen weiter</translation>
    </message>
    <message>
        <source>Select the file to stop</source>
        <translation>Wählen Sie die Datei, die angehalten werden soll</translation>
    </message>
    <message>
        <source>Stopping %1</source>
        <translation>%1 wird angehalten</translation>
    </message>
    <message>
        <source>Help - %1</source>
        <translation>Hilfe - %1</translation>
    </message>
    <message>
        <source>Phone</source>
        <translation>Telefon</translation>
    </message>
    <message>
        <source>Web upload</source>
        <translation>Hochladen ins Netz</translation>
    </message>
    <message>
        <source>Keep quality</source>
        <translation>Qualität erhalten</translation>
    </message>
    <message>
        <source>Small file</source>
        <translation>Kleine Datei</translation>
    </message>
    <message>
        <source>Audio</source>
        <translation>Audio</translation>
    </message>
    <message>
        <source>Lossless</source>
        <translation>Verlustfrei</translation>
    </message>
    <message>
        <source>Video files (older formats)</source>
        <translation>Videodateien (ältere Formate)</translation>
    </message>
    <message>
        <source>Audio files (older formats)</source>
        <translation>Audiodateien (ältere Formate)</translation>
    </message>
    <message>
        <source>iPod</source>
        <translation>iPod</translation>
    </message>
    <message>
        <source>Apple TV</source>
        <translation>Apple TV</translation>
    </message>
    <message>
        <source>iPod Touch</source>
        <translation>iPod Touch</translation>
    </message>
    <message>
        <source>iPhone</source>
        <translation>iPhone</translation>
    </message>
    <message>
        <source>Zune</source>
        <translation>Zune</translation>
    </message>
    <message>
        <source>PlayStation (PSP, PS3)</source>
        <translation>PlayStation (PSP, PS3)</translation>
    </message>
    <message>
        <source>Other players (Archos, BlackBerry, Creative, iRiver)</source>
        <translation>Andere Abspielgeräte (Archos, BlackBerry, Creative, iRiver)</translation>
    </message>
    <message>
        <source>The selected file is not being converted</source>
        <translation>Die gewählte Datei wird gerade nicht umgewandelt</translation>
    </message>
</context>
<context>
    <name>TOptionsDialog</name>
    <message>
        <source>Additional Options</source>
        <translation>Weitere Optionen</translation>
    </message>
    <message>
        <source>Overwrite Existing File With The Same Name</source>
        <translation>Vorhandene Datei gleichen Namens überschreiben</translation>
    </message>
    <message>
        <source>Drop Down Items in Output Format List</source>
        <translation>Sichtbare Einträge der Formatliste</translation>
    </message>
    <message>
        <source> Additional Options </source>
        <translation> Weitere Optionen </translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
</context>
<context>
    <name>TFormAbout</name>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Visit Vavuror Website</source>
        <translation>Website von Vavuror besuchen</translation>
    </message>
    <message>
        <source>Contact Support Department</source>
        <translation>Kundendienst kontaktieren</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TMessageBoxes</name>
    <message>
        <source>Information</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>Bestätigung</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Converts video and sound files for players and phones.</source>
        <translation>Wandelt Video- und Tondateien für Player und Telefone um.</translation>
    </message>
    <message>
        <source>files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>Media files or folders to add to the list.</source>
        <translation>Mediendateien oder Ordner, die der Liste hinzugefügt werden.</translation>
    </message>
    <message>
        <source>[FILE...]</source>
        <translation>[DATEI...]</translation>
    </message>
</context>
</TS>
