<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>AgentSession</name>
    <message>
        <source> · new conversation</source>
        <translation> · neue Unterhaltung</translation>
    </message>
    <message>
        <source>Setting up: %1
</source>
        <translation>Einrichten: %1
</translation>
    </message>
    <message>
        <source>The setup command could not start: %1</source>
        <translation>Der Einrichtungsbefehl konnte nicht starten: %1</translation>
    </message>
    <message>
        <source>The setup command was killed by signal %1</source>
        <translation>Der Einrichtungsbefehl wurde durch Signal %1 beendet</translation>
    </message>
    <message>
        <source>The setup command failed with exit status %1</source>
        <translation>Der Einrichtungsbefehl schlug mit Exit-Status %1 fehl</translation>
    </message>
    <message>
        <source>Check: %1
</source>
        <translation>Prüfung: %1
</translation>
    </message>
    <message>
        <source>Checking…</source>
        <translation>Prüft…</translation>
    </message>
    <message>
        <source>Check passed</source>
        <translation>Prüfung bestanden</translation>
    </message>
    <message>
        <source>Check failed with exit status %1</source>
        <translation>Prüfung fehlgeschlagen mit Exit-Status %1</translation>
    </message>
    <message>
        <source>Check killed by signal %1</source>
        <translation>Prüfung durch Signal %1 beendet</translation>
    </message>
    <message>
        <source>Check timed out</source>
        <translation>Prüfung hat das Zeitlimit überschritten</translation>
    </message>
    <message>
        <source>Check stopped</source>
        <translation>Prüfung angehalten</translation>
    </message>
    <message>
        <source>The check could not start: %1</source>
        <translation>Die Prüfung konnte nicht starten: %1</translation>
    </message>
</context>
<context>
    <name>BrevaneModel</name>
    <message>
        <source>Could not make a worktree: %1</source>
        <translation>Der Worktree konnte nicht angelegt werden: %1</translation>
    </message>
    <message>
        <source>History is off: without it, nothing could find the worktrees again</source>
        <translation>Der Verlauf ist aus: ohne ihn fände nichts die Worktrees wieder</translation>
    </message>
    <message>
        <source>Looking for a git repository…</source>
        <translation>Suche nach einem Git-Repository…</translation>
    </message>
    <message>
        <source>%1 is not in a git repository</source>
        <translation>%1 liegt in keinem Git-Repository</translation>
    </message>
    <message>
        <source>The repository has no work tree: it is bare</source>
        <translation>Das Repository hat keinen Arbeitsbaum: es ist bare</translation>
    </message>
    <message>
        <source>The repository is in the middle of a merge</source>
        <translation>Im Repository ist ein Merge im Gange</translation>
    </message>
    <message>
        <source>The repository is in the middle of a rebase</source>
        <translation>Im Repository ist ein Rebase im Gange</translation>
    </message>
    <message>
        <source>The repository is in the middle of a cherry-pick</source>
        <translation>Im Repository ist ein Cherry-Pick im Gange</translation>
    </message>
    <message>
        <source>The repository is in the middle of a revert</source>
        <translation>Im Repository ist ein Revert im Gange</translation>
    </message>
    <message>
        <source>No snapshot of the worktree yet</source>
        <translation>Noch kein Schnappschuss des Worktrees</translation>
    </message>
    <message>
        <source>Not a branch name: %1</source>
        <translation>Kein Branch-Name: %1</translation>
    </message>
    <message>
        <source>The repository&apos;s submodules are not set up in this worktree: their folders are empty.</source>
        <translation>Die Submodule des Repositorys sind in diesem Worktree nicht eingerichtet: ihre Ordner sind leer.</translation>
    </message>
    <message>
        <source>The session has no worktrees</source>
        <translation>Die Sitzung hat keine Worktrees</translation>
    </message>
    <message>
        <source>Nothing can be assembled now</source>
        <translation>Jetzt lässt sich nichts zusammenstellen</translation>
    </message>
    <message>
        <source>No file is picked</source>
        <translation>Keine Datei ist gewählt</translation>
    </message>
    <message>
        <source>The versions differ in what cannot be shown as lines: a binary file, or only its mode.</source>
        <translation>Die Fassungen unterscheiden sich in etwas, das sich nicht als Zeilen zeigen lässt: eine Binärdatei, oder nur ihr Modus.</translation>
    </message>
    <message>
        <source>Nothing assembled to apply</source>
        <translation>Nichts zusammengestellt, das sich übernehmen ließe</translation>
    </message>
    <message>
        <source>What the check wrote stays in the worktree: %1</source>
        <translation>Was die Prüfung geschrieben hat, bleibt im Worktree: %1</translation>
    </message>
    <message>
        <source>Assembled, but without a worktree to check it in: %1</source>
        <translation>Zusammengestellt, aber ohne Worktree, in dem es sich prüfen ließe: %1</translation>
    </message>
    <message>
        <source>Setup: %1
</source>
        <translation>Einrichtung: %1
</translation>
    </message>
    <message>
        <source>Check: %1
</source>
        <translation>Prüfung: %1
</translation>
    </message>
    <message>
        <source>Setup done
</source>
        <translation>Einrichtung erledigt
</translation>
    </message>
    <message>
        <source>the setup command did not pass</source>
        <translation>der Einrichtungsbefehl ist nicht durchgelaufen</translation>
    </message>
    <message>
        <source>The picks changed meanwhile: assemble again</source>
        <translation>Die Auswahl hat sich inzwischen geändert: bitte erneut zusammenstellen</translation>
    </message>
</context>
<context>
    <name>ChangesModel</name>
    <message>
        <source>Added</source>
        <translation>Hinzugefügt</translation>
    </message>
    <message>
        <source>Modified</source>
        <translation>Geändert</translation>
    </message>
    <message>
        <source>Deleted</source>
        <translation>Gelöscht</translation>
    </message>
    <message>
        <source>Renamed</source>
        <translation>Umbenannt</translation>
    </message>
    <message>
        <source>Copied</source>
        <translation>Kopiert</translation>
    </message>
    <message>
        <source>Type changed</source>
        <translation>Typ geändert</translation>
    </message>
    <message>
        <source>+%1 −%2</source>
        <translation>+%1 −%2</translation>
    </message>
    <message>
        <source>binary</source>
        <translation>binär</translation>
    </message>
    <message>
        <source>%1 → %2</source>
        <translation>%1 → %2</translation>
    </message>
</context>
<context>
    <name>ChangesView</name>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>This turn</source>
        <translation>Diese Runde</translation>
    </message>
    <message>
        <source>Whole session</source>
        <translation>Ganze Sitzung</translation>
    </message>
    <message>
        <source>Open Worktree</source>
        <translation>Worktree öffnen</translation>
    </message>
    <message>
        <source>Create Branch…</source>
        <translation>Branch erstellen…</translation>
    </message>
    <message>
        <source>Apply to Folder</source>
        <translation>Auf Ordner anwenden</translation>
    </message>
    <message>
        <source>Discard Worktrees…</source>
        <translation>Worktrees verwerfen…</translation>
    </message>
    <message>
        <source>No changes</source>
        <translation>Keine Änderungen</translation>
    </message>
    <message>
        <source>1 file, +%1 −%2</source>
        <translation>1 Datei, +%1 −%2</translation>
    </message>
    <message numerus="yes">
        <source>%n files, +%1 −%2</source>
        <translation>
            <numerusform>%n Datei, +%1 −%2</numerusform>
            <numerusform>%n Dateien, +%1 −%2</numerusform>
        </translation>
    </message>
    <message>
        <source>Select a file to see its changes.</source>
        <translation>Wählen Sie eine Datei, um ihre Änderungen zu sehen.</translation>
    </message>
    <message>
        <source>Binary file: no text to compare</source>
        <translation>Binärdatei: kein Text zum Vergleichen</translation>
    </message>
    <message>
        <source>Loading…</source>
        <translation>Wird geladen…</translation>
    </message>
    <message>
        <source>No differences in the text</source>
        <translation>Keine Unterschiede im Text</translation>
    </message>
</context>
<context>
    <name>ColumnView</name>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Install it and relaunch or rescan to include it.</source>
        <translation>Installieren Sie es und starten Sie neu oder suchen Sie erneut, um es einzubeziehen.</translation>
    </message>
    <message>
        <source>Output will appear here.</source>
        <translation>Die Ausgabe erscheint hier.</translation>
    </message>
    <message>
        <source>%1 is not installed</source>
        <translation>%1 ist nicht installiert</translation>
    </message>
    <message>
        <source>not found.</source>
        <translation>nicht gefunden.</translation>
    </message>
    <message>
        <source>no answer within 10 s.</source>
        <translation>keine Antwort innerhalb von 10 s.</translation>
    </message>
    <message>
        <source>it could not be started (%1).</source>
        <translation>sie konnte nicht gestartet werden (%1).</translation>
    </message>
    <message>
        <source>Looked in ~/.local/bin, ~/.npm-global/bin, ~/.hermes/bin, /opt/homebrew/bin and /usr/local/bin, then asked the login shell: %1</source>
        <translation>Gesucht in ~/.local/bin, ~/.npm-global/bin, ~/.hermes/bin, /opt/homebrew/bin und /usr/local/bin, dann die Login-Shell gefragt: %1</translation>
    </message>
    <message>
        <source>Include %1 in the next run</source>
        <translation>%1 beim nächsten Lauf einbeziehen</translation>
    </message>
    <message>
        <source>No matches</source>
        <translation>Keine Treffer</translation>
    </message>
    <message>
        <source>1 match</source>
        <translation>1 Treffer</translation>
    </message>
    <message>
        <source>%1 matches</source>
        <translation>%1 Treffer</translation>
    </message>
    <message>
        <source>Copied</source>
        <translation>Kopiert</translation>
    </message>
    <message>
        <source>Copy Raw Output</source>
        <translation>Rohausgabe kopieren</translation>
    </message>
    <message>
        <source>Trust Folder and Retry</source>
        <translation>Ordner vertrauen und wiederholen</translation>
    </message>
    <message>
        <source>Run this turn again, letting the tool trust the session&apos;s folder from now on</source>
        <translation>Diesen Schritt erneut ausführen; das Werkzeug vertraut dem Ordner der Sitzung von nun an</translation>
    </message>
    <message>
        <source>This session: %1</source>
        <translation>Diese Sitzung: %1</translation>
    </message>
    <message>
        <source>Transcript</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source>Changes</source>
        <translation>Änderungen</translation>
    </message>
    <message>
        <source>Worktree %1</source>
        <translation>Worktree %1</translation>
    </message>
    <message>
        <source>%1
Base commit %2</source>
        <translation>%1
Basis-Commit %2</translation>
    </message>
    <message>
        <source>Computing changes…</source>
        <translation>Änderungen werden ermittelt…</translation>
    </message>
    <message>
        <source>Run Check</source>
        <translation>Prüfen</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Hands one task to several command-line agent tools and shows what each prints, side by side.</source>
        <translation>Übergibt eine Aufgabe an mehrere Kommandozeilen-Agenten und zeigt nebeneinander, was jeder ausgibt.</translation>
    </message>
    <message>
        <source>The folder the tools work in (default: the current folder, or home when that is /).</source>
        <translation>Der Ordner, in dem die Werkzeuge arbeiten (Vorgabe: der aktuelle Ordner, oder der Benutzerordner, wenn dieser / ist).</translation>
    </message>
    <message>
        <source>one folder at most</source>
        <translation>höchstens ein Ordner</translation>
    </message>
    <message>
        <source>Keep no history of sessions: nothing is read from it or written to it.</source>
        <translation>Keinen Verlauf der Sitzungen führen: es wird nichts daraus gelesen und nichts hineingeschrieben.</translation>
    </message>
</context>
<context>
    <name>CompareWindow</name>
    <message>
        <source>deleted</source>
        <translation>gelöscht</translation>
    </message>
    <message>
        <source>binary</source>
        <translation>binär</translation>
    </message>
    <message>
        <source>Compare Agents</source>
        <translation>Agenten vergleichen</translation>
    </message>
    <message>
        <source>Agent</source>
        <translation>Agent</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Turns</source>
        <translation>Schritte</translation>
    </message>
    <message>
        <source>Tokens</source>
        <translation>Tokens</translation>
    </message>
    <message>
        <source>Cost</source>
        <translation>Kosten</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>Added</source>
        <translation>Hinzugefügt</translation>
    </message>
    <message>
        <source>Removed</source>
        <translation>Entfernt</translation>
    </message>
    <message>
        <source>Check</source>
        <translation>Prüfung</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Agents</source>
        <translation>Agenten</translation>
    </message>
    <message numerus="yes">
        <source>Changed by %n agents</source>
        <translation>
            <numerusform>Von %n Agenten geändert</numerusform>
            <numerusform>Von %n Agenten geändert</numerusform>
        </translation>
    </message>
    <message>
        <source>A against B</source>
        <translation>A gegen B</translation>
    </message>
    <message>
        <source>Base against A</source>
        <translation>Basis gegen A</translation>
    </message>
    <message>
        <source>Base against B</source>
        <translation>Basis gegen B</translation>
    </message>
    <message>
        <source>A:</source>
        <translation>A:</translation>
    </message>
    <message>
        <source>B:</source>
        <translation>B:</translation>
    </message>
    <message>
        <source>Select a file to see two agents&apos; versions side by side.</source>
        <translation>Wählen Sie eine Datei, um die Fassungen zweier Agenten nebeneinander zu sehen.</translation>
    </message>
    <message>
        <source>That agent has no worktree.</source>
        <translation>Dieser Agent hat keinen Worktree.</translation>
    </message>
    <message>
        <source>The two versions are the same.</source>
        <translation>Die beiden Fassungen sind gleich.</translation>
    </message>
    <message>
        <source>Assemble</source>
        <translation>Zusammenstellen</translation>
    </message>
    <message>
        <source>Apply Selection</source>
        <translation>Auswahl übernehmen</translation>
    </message>
    <message>
        <source>Put the versions ticked in the matrix together on the session&apos;s base, one agent&apos;s per file</source>
        <translation>Die in der Matrix angekreuzten Fassungen auf der Basis der Sitzung zusammenstellen, je Datei die eines Agenten</translation>
    </message>
    <message>
        <source>Write the assembled result into your folder, merged with your changes, without committing</source>
        <translation>Das zusammengestellte Ergebnis in Ihren Ordner schreiben, mit Ihren Änderungen zusammengeführt, ohne Commit</translation>
    </message>
    <message>
        <source>Assembling…</source>
        <translation>Wird zusammengestellt…</translation>
    </message>
    <message numerus="yes">
        <source>Assembled: %n files</source>
        <translation>
            <numerusform>Zusammengestellt: %n Datei</numerusform>
            <numerusform>Zusammengestellt: %n Dateien</numerusform>
        </translation>
    </message>
    <message>
        <source>Applying…</source>
        <translation>Wird übernommen…</translation>
    </message>
    <message>
        <source>Nothing was applied: these files clash with yours: %1</source>
        <translation>Nichts wurde übernommen: Diese Dateien kollidieren mit Ihren: %1</translation>
    </message>
    <message numerus="yes">
        <source>Applied: %n files written</source>
        <translation>
            <numerusform>Übernommen: %n Datei geschrieben</numerusform>
            <numerusform>Übernommen: %n Dateien geschrieben</numerusform>
        </translation>
    </message>
    <message>
        <source>assembled</source>
        <translation>zusammengestellt</translation>
    </message>
    <message>
        <source>Run Check</source>
        <translation>Prüfen</translation>
    </message>
    <message>
        <source>Run the check command in the assembled result&apos;s worktree (the setup command first, once). It runs code the agents may have changed, so it runs by itself only when commands are allowed.</source>
        <translation>Führt den Prüfbefehl im Worktree des zusammengestellten Ergebnisses aus (einmalig zuvor den Einrichtungsbefehl). Er führt Code aus, den die Agenten geändert haben können, und läuft daher nur von selbst, wenn Befehle erlaubt sind.</translation>
    </message>
    <message>
        <source>Nothing is assembled yet.</source>
        <translation>Noch ist nichts zusammengestellt.</translation>
    </message>
</context>
<context>
    <name>ContentView</name>
    <message>
        <source>Run</source>
        <translation>Ausführen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stoppen</translation>
    </message>
    <message>
        <source>Rescan for installed tools</source>
        <translation>Erneut nach installierten Werkzeugen suchen</translation>
    </message>
    <message>
        <source>Looking for installed tools…</source>
        <translation>Suche nach installierten Werkzeugen…</translation>
    </message>
    <message>
        <source>%1 — Brevane</source>
        <translation>%1 — Brevane</translation>
    </message>
    <message>
        <source>Choose the Folder the Tools Work In</source>
        <translation>Ordner wählen, in dem die Werkzeuge arbeiten</translation>
    </message>
    <message>
        <source>Working folder: %1</source>
        <translation>Arbeitsordner: %1</translation>
    </message>
    <message>
        <source>Save Transcripts…</source>
        <translation>Protokolle sichern…</translation>
    </message>
    <message numerus="yes">
        <source>%n running — </source>
        <translation>
            <numerusform>%n läuft — </numerusform>
            <numerusform>%n laufen — </numerusform>
        </translation>
    </message>
    <message>
        <source>Save Transcripts</source>
        <translation>Protokolle sichern</translation>
    </message>
    <message>
        <source>Markdown (*.md)</source>
        <translation>Markdown (*.md)</translation>
    </message>
    <message>
        <source>Could Not Save Transcripts</source>
        <translation>Protokolle konnten nicht gesichert werden</translation>
    </message>
    <message>
        <source>The transcripts could not be saved as “%1”: %2</source>
        <translation>Die Protokolle konnten nicht als „%1“ gesichert werden: %2</translation>
    </message>
    <message>
        <source>Folder Not Opened</source>
        <translation>Ordner nicht geöffnet</translation>
    </message>
    <message>
        <source>The folder picker cannot give the name of “%1” exactly, as it is not valid text. Drop the folder on the window, or give it on the command line, instead.</source>
        <translation>Die Ordnerauswahl kann den Namen von „%1“ nicht genau angeben, da er kein gültiger Text ist. Ziehen Sie den Ordner stattdessen auf das Fenster oder geben Sie ihn auf der Kommandozeile an.</translation>
    </message>
    <message>
        <source>New Session</source>
        <translation>Neue Sitzung</translation>
    </message>
    <message>
        <source>Empty every column for a new task</source>
        <translation>Alle Spalten für eine neue Aufgabe leeren</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Follow up: sent to each agent in its own conversation…</source>
        <translation>Nachfrage: geht an jeden Agenten in seiner eigenen Unterhaltung…</translation>
    </message>
    <message>
        <source>Type a task for every agent…</source>
        <translation>Aufgabe für alle Agenten eingeben…</translation>
    </message>
    <message>
        <source>Separate worktrees</source>
        <translation>Getrennte Worktrees</translation>
    </message>
    <message>
        <source>Allow commands</source>
        <translation>Befehle erlauben</translation>
    </message>
    <message>
        <source>Let the agents in worktrees run commands, not only edit files</source>
        <translation>Die Agenten in Worktrees dürfen Befehle ausführen, nicht nur Dateien bearbeiten</translation>
    </message>
    <message>
        <source>The agents may run any command as you, and worktrees share the repository&apos;s refs and stash.</source>
        <translation>Die Agenten dürfen dann jeden Befehl als du ausführen, und Worktrees teilen sich Refs und Stash des Repositorys.</translation>
    </message>
    <message>
        <source>Discard Worktrees…</source>
        <translation>Worktrees verwerfen…</translation>
    </message>
    <message>
        <source>Take a new snapshot of the agent&apos;s worktree</source>
        <translation>Einen neuen Schnappschuss vom Worktree des Agenten machen</translation>
    </message>
    <message>
        <source>Show the agent&apos;s worktree in the file manager</source>
        <translation>Den Worktree des Agenten im Dateimanager zeigen</translation>
    </message>
    <message>
        <source>Make a branch of your repository at the agent&apos;s latest snapshot</source>
        <translation>Einen Branch deines Repositorys beim letzten Schnappschuss des Agenten anlegen</translation>
    </message>
    <message>
        <source>Write these changes into your folder, merged with yours, without committing</source>
        <translation>Diese Änderungen in deinen Ordner schreiben, mit deinen zusammengeführt, ohne Commit</translation>
    </message>
    <message>
        <source>Remove every worktree of this session</source>
        <translation>Jeden Worktree dieser Sitzung entfernen</translation>
    </message>
    <message>
        <source>Chosen for this session at its first turn</source>
        <translation>Für diese Sitzung bei ihrem ersten Schritt gewählt</translation>
    </message>
    <message>
        <source>Each agent works in a git worktree of its own, made from the folder as you see it, uncommitted changes included</source>
        <translation>Jeder Agent arbeitet in einem eigenen Git-Worktree, angelegt aus dem Ordner, wie du ihn siehst, samt nicht committeter Änderungen</translation>
    </message>
    <message>
        <source>Create Branch</source>
        <translation>Branch anlegen</translation>
    </message>
    <message>
        <source>A branch of your repository at %1&apos;s latest snapshot:</source>
        <translation>Ein Branch deines Repositorys beim letzten Schnappschuss von %1:</translation>
    </message>
    <message>
        <source>Branch %1 created</source>
        <translation>Branch %1 angelegt</translation>
    </message>
    <message>
        <source>Applying…</source>
        <translation>Wird übernommen…</translation>
    </message>
    <message numerus="yes">
        <source>, %n removed</source>
        <translation>
            <numerusform>, %n entfernt</numerusform>
            <numerusform>, %n entfernt</numerusform>
        </translation>
    </message>
    <message>
        <source>Apply to Folder</source>
        <translation>In den Ordner übernehmen</translation>
    </message>
    <message>
        <source>Discard Worktrees</source>
        <translation>Worktrees verwerfen</translation>
    </message>
    <message>
        <source>Remove the worktrees of this session, with every change the agents made that was not applied?</source>
        <translation>Die Worktrees dieser Sitzung entfernen, mit jeder nicht übernommenen Änderung der Agenten?</translation>
    </message>
    <message>
        <source>The transcripts stay in the history.</source>
        <translation>Die Protokolle bleiben im Verlauf.</translation>
    </message>
    <message>
        <source>Applied: 1 file written</source>
        <translation>Übernommen: 1 Datei geschrieben</translation>
    </message>
    <message numerus="yes">
        <source>Applied: %n files written</source>
        <translation>
            <numerusform>Übernommen: %n Datei geschrieben</numerusform>
            <numerusform>Übernommen: %n Dateien geschrieben</numerusform>
        </translation>
    </message>
    <message>
        <source>Nothing was applied: 1 file conflicts with your folder</source>
        <translation>Nichts wurde übernommen: 1 Datei steht im Konflikt mit deinem Ordner</translation>
    </message>
    <message numerus="yes">
        <source>Nothing was applied: %n files conflict with your folder</source>
        <translation>
            <numerusform>Nichts wurde übernommen: %n Datei steht im Konflikt mit deinem Ordner</numerusform>
            <numerusform>Nichts wurde übernommen: %n Dateien stehen im Konflikt mit deinem Ordner</numerusform>
        </translation>
    </message>
    <message>
        <source>Some worktrees could not be removed.</source>
        <translation>Einige Worktrees ließen sich nicht entfernen.</translation>
    </message>
    <message>
        <source>Run Checks</source>
        <translation>Alle prüfen</translation>
    </message>
    <message>
        <source>Set a check command first: File &gt; Check Command…</source>
        <translation>Zuerst einen Prüfbefehl festlegen: Datei &gt; Prüfbefehl…</translation>
    </message>
    <message>
        <source>Run your check command in the agent&apos;s worktree (it also runs after each turn, as commands are allowed)</source>
        <translation>Führt Ihren Prüfbefehl im Worktree des Agenten aus (er läuft auch nach jedem Schritt, da Befehle erlaubt sind)</translation>
    </message>
    <message>
        <source>Run your check command in the agent&apos;s worktree. It runs code the agent may have changed, so it runs only when you ask, unless commands are allowed</source>
        <translation>Führt Ihren Prüfbefehl im Worktree des Agenten aus. Er führt Code aus, den der Agent geändert haben kann, und läuft daher nur auf Ihren Wunsch, außer Befehle sind erlaubt</translation>
    </message>
    <message>
        <source>The agents are done</source>
        <translation>Die Agenten sind fertig</translation>
    </message>
    <message>
        <source>exit status %1</source>
        <translation>Exit-Status %1</translation>
    </message>
    <message>
        <source>killed</source>
        <translation>beendet</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>angehalten</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>fehlgeschlagen</translation>
    </message>
    <message>
        <source>check timed out</source>
        <translation>Prüfung über Zeitlimit</translation>
    </message>
    <message>
        <source>check stopped</source>
        <translation>Prüfung angehalten</translation>
    </message>
    <message>
        <source>check failed</source>
        <translation>Prüfung fehlgeschlagen</translation>
    </message>
    <message>
        <source>1 file</source>
        <translation>1 Datei</translation>
    </message>
    <message numerus="yes">
        <source>%n files</source>
        <translation>
            <numerusform>%n Datei</numerusform>
            <numerusform>%n Dateien</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>DesktopNotifier</name>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
</context>
<context>
    <name>FindBar</name>
    <message>
        <source>Match case</source>
        <translation>Groß-/Kleinschreibung beachten</translation>
    </message>
    <message>
        <source>Previous</source>
        <translation>Vorheriger</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>Nächster</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>Find in every transcript</source>
        <translation>In allen Ausgaben suchen</translation>
    </message>
</context>
<context>
    <name>HistoryPanel</name>
    <message>
        <source>done</source>
        <translation>fertig</translation>
    </message>
    <message>
        <source>running</source>
        <translation>läuft</translation>
    </message>
    <message>
        <source>killed</source>
        <translation>beendet durch Signal</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>fehlgeschlagen</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>gestoppt</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>unterbrochen</translation>
    </message>
    <message>
        <source>Search transcripts</source>
        <translation>Auch Protokolle durchsuchen</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Delete…</source>
        <translation>Löschen…</translation>
    </message>
    <message>
        <source>Filter sessions</source>
        <translation>Sitzungen filtern</translation>
    </message>
    <message>
        <source>Session</source>
        <translation>Sitzung</translation>
    </message>
    <message>
        <source>Agents</source>
        <translation>Agenten</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>When</source>
        <translation>Wann</translation>
    </message>
    <message>
        <source>A session still running cannot be opened or deleted.</source>
        <translation>Eine Sitzung, die noch läuft, kann weder geöffnet noch gelöscht werden.</translation>
    </message>
    <message>
        <source>Delete Sessions</source>
        <translation>Sitzungen löschen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Their turns and transcripts are removed for good, and so are their worktrees, with every change not applied.</source>
        <translation>Ihre Schritte und Protokolle werden endgültig entfernt, ebenso ihre Worktrees mit jeder nicht übernommenen Änderung.</translation>
    </message>
    <message>
        <source>Some worktrees could not be removed, so their sessions stay:
%1</source>
        <translation>Einige Worktrees ließen sich nicht entfernen, daher bleiben ihre Sitzungen:
%1</translation>
    </message>
    <message>
        <source>Delete this session from the history?</source>
        <translation>Diese Sitzung aus dem Verlauf löschen?</translation>
    </message>
    <message numerus="yes">
        <source>Delete %n sessions from the history?</source>
        <translation>
            <numerusform>%n Sitzung aus dem Verlauf löschen?</numerusform>
            <numerusform>%n Sitzungen aus dem Verlauf löschen?</numerusform>
        </translation>
    </message>
    <message>
        <source>Discard Worktrees…</source>
        <translation>Worktrees verwerfen…</translation>
    </message>
    <message>
        <source>Worktrees</source>
        <translation>Worktrees</translation>
    </message>
    <message>
        <source>leftover, %1</source>
        <translation>übrig, %1</translation>
    </message>
    <message>
        <source>Discard Worktrees</source>
        <translation>Worktrees verwerfen</translation>
    </message>
    <message>
        <source>Discard the worktrees of this session?</source>
        <translation>Die Worktrees dieser Sitzung verwerfen?</translation>
    </message>
    <message numerus="yes">
        <source>Discard the worktrees of %n sessions?</source>
        <translation>
            <numerusform>Die Worktrees von %n Sitzung verwerfen?</numerusform>
            <numerusform>Die Worktrees von %n Sitzungen verwerfen?</numerusform>
        </translation>
    </message>
    <message>
        <source>Every change not applied is lost. The sessions and their transcripts stay in the history.</source>
        <translation>Jede nicht übernommene Änderung geht verloren. Die Sitzungen und ihre Protokolle bleiben im Verlauf.</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>Verwerfen</translation>
    </message>
</context>
<context>
    <name>HistoryStore</name>
    <message>
        <source>History is off: the folder for %1 cannot be made.</source>
        <translation>Der Verlauf ist aus: Der Ordner für %1 kann nicht angelegt werden.</translation>
    </message>
    <message>
        <source>History is off: %1 cannot be opened (%2).</source>
        <translation>Der Verlauf ist aus: %1 kann nicht geöffnet werden (%2).</translation>
    </message>
    <message>
        <source>History is off: %1 was written by a newer version of Brevane.</source>
        <translation>Der Verlauf ist aus: %1 wurde von einer neueren Version von Brevane geschrieben.</translation>
    </message>
    <message>
        <source>History is off: %1 is damaged and cannot be moved aside.</source>
        <translation>Der Verlauf ist aus: %1 ist beschädigt und kann nicht beiseitegelegt werden.</translation>
    </message>
    <message>
        <source>%1 was damaged: it was moved aside to %2 and a new history was started.</source>
        <translation>%1 war beschädigt: Die Datei wurde nach %2 verschoben und ein neuer Verlauf begonnen.</translation>
    </message>
    <message>
        <source>History is off: writing to %1 failed (%2).</source>
        <translation>Der Verlauf ist aus: Schreiben in %1 ist fehlgeschlagen (%2).</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>New Window</source>
        <translation>Neues Fenster</translation>
    </message>
    <message>
        <source>Close Window</source>
        <translation>Fenster schließen</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Rückgängig</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>Wiederherstellen</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Ausschneiden</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Einfügen</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>Open Folder…</source>
        <translation>Ordner öffnen…</translation>
    </message>
    <message>
        <source>Find…</source>
        <translation>Suchen…</translation>
    </message>
    <message>
        <source>Find Next</source>
        <translation>Weitersuchen</translation>
    </message>
    <message>
        <source>Find Previous</source>
        <translation>Rückwärts suchen</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message>
        <source>Zoom In</source>
        <translation>Vergrößern</translation>
    </message>
    <message>
        <source>Zoom Out</source>
        <translation>Verkleinern</translation>
    </message>
    <message>
        <source>Actual Size</source>
        <translation>Originalgröße</translation>
    </message>
    <message>
        <source>Plain Output</source>
        <translation>Unverarbeitete Ausgabe</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <source>Open Session</source>
        <translation>Sitzung öffnen</translation>
    </message>
    <message>
        <source>This session is no longer in the history.</source>
        <translation>Diese Sitzung ist nicht mehr im Verlauf.</translation>
    </message>
    <message>
        <source>Brevane was started with --no-history.</source>
        <translation>Brevane wurde mit --no-history gestartet.</translation>
    </message>
    <message>
        <source>Setup Command</source>
        <translation>Einrichtungsbefehl</translation>
    </message>
    <message>
        <source>Run in each new worktree of %1, through your login shell (for example &quot;npm ci&quot;). Empty: none.</source>
        <translation>Wird in jedem neuen Worktree von %1 über deine Login-Shell ausgeführt (zum Beispiel &quot;npm ci&quot;). Leer: keiner.</translation>
    </message>
    <message>
        <source>Setup Command…</source>
        <translation>Einrichtungsbefehl…</translation>
    </message>
    <message>
        <source>Discard Worktrees</source>
        <translation>Worktrees verwerfen</translation>
    </message>
    <message>
        <source>Some worktrees could not be removed:
%1</source>
        <translation>Einige Worktrees konnten nicht entfernt werden:
%1</translation>
    </message>
    <message>
        <source>Check Command</source>
        <translation>Prüfbefehl</translation>
    </message>
    <message>
        <source>Run in an agent&apos;s worktree of %1 through your login shell, to tell whether its work passes (for example &quot;make test&quot;). Empty: none.</source>
        <translation>Läuft im Worktree eines Agenten von %1 über Ihre Login-Shell und sagt, ob seine Arbeit besteht (zum Beispiel &quot;make test&quot;). Leer: keiner.</translation>
    </message>
    <message>
        <source> min</source>
        <translation> min</translation>
    </message>
    <message>
        <source>Command:</source>
        <translation>Befehl:</translation>
    </message>
    <message>
        <source>Time limit:</source>
        <translation>Zeitlimit:</translation>
    </message>
    <message>
        <source>Check Command…</source>
        <translation>Prüfbefehl…</translation>
    </message>
    <message>
        <source>Compare Agents</source>
        <translation>Agenten vergleichen</translation>
    </message>
</context>
<context>
    <name>TaskTextEdit</name>
    <message>
        <source>Type a task for every agent…</source>
        <translation>Aufgabe für alle Agenten eingeben…</translation>
    </message>
</context>
<context>
    <name>TranscriptView</name>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
</context>
</TS>
